// Exceptions must never unwind through the system's window-procedure frames. Every window
// procedure of the program catches what its handlers raise and hands it to the one
// application-wide handler set here (the agent routes it to its exception logger).
#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string_view>

namespace pw {

using ApplicationExceptionHandler = std::function<void(const std::exception&)>;

// Sets the handler; an empty one restores the default, which does nothing more.
void SetApplicationExceptionHandler(ApplicationExceptionHandler handler);

// Hands an exception that no handler caught to the application-wide handler, after a trace
// line that names the place (context), the exception's message and its class. Never throws.
void HandleUncaughtException(const std::exception& e,
                             std::string_view context = "uncaught exception") noexcept;

// Runs body; an exception that leaves it goes to HandleUncaughtException.
template <typename Body> void GuardedCall(Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        HandleUncaughtException(e);
    } catch (...) {
        HandleUncaughtException(std::runtime_error("unknown exception"));
    }
}

} // namespace pw
