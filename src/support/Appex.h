// TAppException handles the exceptions nobody else caught: it appends a record about each to
// a log file, when one is named, and shows the exception to the user, when asked to.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

#include "core/Component.h"

namespace pw {

class TAppException : public TComponent {
public:
    explicit TAppException(TComponent* owner = nullptr);

    // Writes the record and shows the box. A file step that fails raises EInOutError
    // ("I/O error " and the system code) at once; the rest of the record and the box are
    // skipped.
    void LogException(TObject& Sender, const std::exception& E);

    // The application-wide hook for uncaught exceptions: LogException, with a failure of
    // the logger itself (a log file that cannot be written) traced and dropped, so that the
    // hook never throws.
    void HandleException(TObject& Sender, const std::exception& E) noexcept;

    std::string ErrorLog;  // empty or blanks only: no log
    std::string UserName;  // when set, each record starts with "User: " and this name
    bool ShowExcep = true; // show each exception after logging it

    // Seams with the real calls as defaults: the local time, and the standard exception box
    // (MessageBoxA with the message, the program's name as caption, error icon and OK).
    std::function<SYSTEMTIME()> Now;
    std::function<void(const std::string& message)> ShowExceptionBox;

private:
    void WriteRecord(const std::string& message);
};

// The record's date and time line: short date, and a blank and the long time unless hour,
// minute and second are all zero.
std::string FormatLogDateTime(const SYSTEMTIME& time);

} // namespace pw
