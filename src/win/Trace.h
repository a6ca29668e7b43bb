// The opt-in diagnostic trace: when the environment variable PWAGENT_TRACE names a file, one
// line per event is appended to it (time, then the text). Off by default. Callers never pass
// a password: use MaskSecret for anything that may hold one.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace pw {

bool TraceEnabled();
void Trace(std::string_view text);
// The line of a place that caught an exception: "<context>: <message> (<class>)".
void TraceCaught(std::string_view context, const std::exception& e);
// Called inside a catch block: TraceCaught for the exception being handled, and
// "<context>: unknown exception" for one that is no std::exception.
void TraceCaughtCurrent(std::string_view context);

// Seam for tests: whether the open trace file has been deleted, asked before each line (by
// default the delete-pending flag and link count Windows reports for the handle). Returns the
// query it replaces; an empty one restores the default.
using TraceFileDeletedQuery = std::function<bool(HANDLE file)>;
TraceFileDeletedQuery SetTraceFileDeletedQuery(TraceFileDeletedQuery query);

// "***" for a non-empty secret, empty for an empty one.
inline std::string MaskSecret(std::string_view secret) {
    return secret.empty() ? std::string() : std::string("***");
}

} // namespace pw
