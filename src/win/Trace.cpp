// Diagnostic trace; see Trace.h. The file is opened once and each line goes to it in a single
// unbuffered write, so another process (a test, the demo) reads every line as soon as it is
// written and nothing is lost when the program ends.
#include "Trace.h"

#include "win/Handles.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

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

class TraceSink {
public:
    void Write(const std::string& line) {
        const std::lock_guard<std::mutex> lock(lock_);
        // A file that cannot be opened yet (its folder is missing) is tried again next time.
        if (!file_)
            file_.reset(CreateFileA(TracePath().c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_)
            return;
        DWORD written = 0;
        WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

private:
    std::mutex lock_;
    UniqueFile file_;
};
} // namespace

bool TraceEnabled() {
    return !TracePath().empty();
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
    // Never destroyed: a launcher thread may still trace while the process ends; the system
    // closes the file then.
    static TraceSink& sink = *new TraceSink;
    sink.Write(line);
}

} // namespace pw
