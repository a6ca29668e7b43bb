// Exception logger; see Appex.h. The file is opened and closed for every record so that
// nothing is held open between exceptions.
#include "Appex.h"

#include "core/Errors.h"
#include "core/Text.h"
#include "win/Handles.h"
#include "win/ProgramFile.h"
#include "win/Trace.h"

namespace pw {

namespace {

[[noreturn]] void RaiseInOutError(DWORD code) {
    throw EInOutError("I/O error " + std::to_string(code));
}

// The last system error, or a write fault when the platform reported none (a short write).
DWORD LastErrorOr(DWORD fallback) {
    const DWORD code = GetLastError();
    return code != 0 ? code : fallback;
}

void WriteLine(HANDLE file, const std::string& text) {
    const std::string line = text + "\r\n";
    DWORD written = 0;
    SetLastError(0);
    if (!WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size())
        RaiseInOutError(LastErrorOr(ERROR_WRITE_FAULT));
}

} // namespace

std::string FormatLogDateTime(const SYSTEMTIME& time) {
    char buffer[128] = {};
    std::string result;
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, buffer, sizeof buffer) >
        0)
        result = buffer;
    if (time.wHour == 0 && time.wMinute == 0 && time.wSecond == 0)
        return result;
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &time, nullptr, buffer, sizeof buffer) > 0) {
        result += ' ';
        result += buffer;
    }
    return result;
}

TAppException::TAppException(TComponent* owner)
    : TComponent(owner), Now([] {
          SYSTEMTIME now;
          GetLocalTime(&now);
          return now;
      }),
      ShowExceptionBox([](const std::string& message) {
          MessageBoxA(GetActiveWindow(), message.c_str(), ProgramName().c_str(),
                      MB_OK | MB_ICONERROR);
      }) {}

void TAppException::LogException(TObject&, const std::exception& E) {
    if (!TrimView(ErrorLog).empty())
        WriteRecord(E.what());
    if (ShowExcep)
        Fire(ShowExceptionBox, E.what());
}

void TAppException::WriteRecord(const std::string& message) {
    // The name as given, untrimmed: the trim only decides whether a log is wanted.
    const bool exists = GetFileAttributesA(ErrorLog.c_str()) != INVALID_FILE_ATTRIBUTES;
    UniqueFile file(CreateFileA(ErrorLog.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                exists ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file)
        RaiseInOutError(LastErrorOr(ERROR_OPEN_FAILED));
    SetLastError(0);
    if (SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        RaiseInOutError(GetLastError());

    if (!UserName.empty())
        WriteLine(file.get(), "User: " + UserName);
    WriteLine(file.get(), FormatLogDateTime(Now()));
    WriteLine(file.get(), message);
    WriteLine(file.get(), std::string());
    if (!CloseHandle(file.release()))
        RaiseInOutError(LastErrorOr(ERROR_WRITE_FAULT));
}

void TAppException::HandleException(TObject& Sender, const std::exception& E) noexcept {
    try {
        LogException(Sender, E);
    } catch (...) {
        TraceCaughtCurrent(std::string("exception logger failed while handling '") + E.what() +
                           "'");
    }
}

} // namespace pw
