// Diagnostic trace; see Trace.h. The file stays open between lines and every line is written
// straight through, so that another process (a test, the demo) sees it at once. A reader may
// delete the file: the next line then starts a new one.
#include "Trace.h"

#include "core/Errors.h"
#include "win/Binding.h"
#include "win/Handles.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <utility>

namespace pw {

namespace {
const std::string& TracePath() {
    static const std::string path = [] {
        char buffer[MAX_PATH + 1] = {};
        const DWORD n = GetEnvironmentVariableA("PWAGENT_TRACE", buffer, sizeof buffer);
        return (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string();
    }();
    return path;
}

// Windows marks a file deleted while a handle is open as delete-pending, and keeps its name
// until the last handle closes (or, with POSIX semantics, drops the name at once and leaves the
// handle a file without links). Either way the lines would go where no reader finds them.
// GetFileInformationByHandleEx (Vista and later) tells both; before it, only the links show.
struct StandardInfo { // FILE_STANDARD_INFO
    LARGE_INTEGER AllocationSize;
    LARGE_INTEGER EndOfFile;
    DWORD NumberOfLinks;
    BOOLEAN DeletePending;
    BOOLEAN Directory;
};
constexpr int kFileStandardInfo = 1; // FILE_INFO_BY_HANDLE_CLASS FileStandardInfo
using QueryByHandleEx = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

bool DeletedByDefault(HANDLE file) {
    static const auto queryEx = LookUpFunction<QueryByHandleEx>(GetModuleHandleA("kernel32.dll"),
                                                                "GetFileInformationByHandleEx");
    if (queryEx != nullptr) {
        StandardInfo info{};
        // A handle that cannot say is not trusted with the next line.
        if (!queryEx(file, kFileStandardInfo, &info, sizeof info))
            return true;
        return info.DeletePending || info.NumberOfLinks == 0;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    return !GetFileInformationByHandle(file, &info) || info.nNumberOfLinks == 0;
}

struct TraceSink {
    std::mutex lock; // the launcher's thread traces too
    UniqueFile file;
    TraceFileDeletedQuery deleted = &DeletedByDefault;
};

// Never destroyed: a detached thread may trace while the process ends; the system closes the
// handle then.
TraceSink& Sink() {
    static TraceSink& sink = *new TraceSink;
    return sink;
}

UniqueFile OpenTrace() {
    // FILE_SHARE_DELETE: a reader may delete the file while it is open here.
    return UniqueFile(CreateFileA(TracePath().c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}
} // namespace

bool TraceEnabled() {
    return !TracePath().empty();
}

void TraceCaught(std::string_view context, const std::exception& e) {
    if (!TraceEnabled())
        return;
    std::string line(context);
    line += ": ";
    line += e.what();
    line += " (" + ExceptionClassName(e) + ")";
    Trace(line);
}

void TraceCaughtCurrent(std::string_view context) {
    if (!TraceEnabled())
        return;
    try {
        throw;
    } catch (const std::exception& e) {
        TraceCaught(context, e);
    } catch (...) {
        Trace(std::string(context) + ": unknown exception");
    }
}

void Trace(std::string_view text) {
    if (!TraceEnabled())
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%02u:%02u:%02u.%03u ", now.wHour, now.wMinute, now.wSecond,
             now.wMilliseconds);
    std::string line = stamp;
    line.append(text.data(), text.size());
    line += "\r\n";

    TraceSink& sink = Sink();
    const std::lock_guard<std::mutex> guard(sink.lock);
    // Closed before it is opened again: the last handle's close completes a pending delete.
    if (sink.file && sink.deleted(sink.file.get()))
        sink.file.reset();
    if (!sink.file)
        sink.file = OpenTrace();
    if (!sink.file)
        return;
    DWORD written = 0;
    if (!WriteFile(sink.file.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                   nullptr))
        sink.file.reset(); // tried again with a new handle at the next line
}

TraceFileDeletedQuery SetTraceFileDeletedQuery(TraceFileDeletedQuery query) {
    TraceSink& sink = Sink();
    const std::lock_guard<std::mutex> guard(sink.lock);
    return std::exchange(sink.deleted, query ? std::move(query) : &DeletedByDefault);
}

} // namespace pw
