// Application-wide handler for uncaught exceptions; see ExceptionHook.h.
#include "ExceptionHook.h"

#include "win/Trace.h"

#include <stdexcept>
#include <string>

namespace pw {

namespace {
ApplicationExceptionHandler& Handler() {
    static ApplicationExceptionHandler handler;
    return handler;
}
} // namespace

void SetApplicationExceptionHandler(ApplicationExceptionHandler handler) {
    Handler() = std::move(handler);
}

void HandleUncaughtException(const std::exception& e, std::string_view context) noexcept {
    try {
        TraceCaught(context, e);
        if (Handler())
            Handler()(e);
    } catch (...) {
        // The handler itself failed (for example its log file could not be written): there is
        // nobody left to tell, and the program must go on running.
        try {
            Trace("exception handler failed");
        } catch (...) {
        }
    }
}

} // namespace pw
