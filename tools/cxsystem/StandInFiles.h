// File helpers of the stand-in client: whole-file reads with a size bound, rewrites, appends,
// and the program's own and current directories (each ending in a backslash).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pw {

// The file's bytes; empty when it cannot be opened or is larger than maxBytes.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes);
// Replaces the file's content; false on any failure.
bool RewriteFile(const std::string& path, std::string_view content);
// Appends to the file, creating it when missing; false on any failure.
bool AppendToFile(const std::string& path, std::string_view content);

std::string ProgramDirectory();
std::string CurrentDirectory();

// Local time as "yyyy-mm-dd hh:nn:ss".
std::string LocalTimestamp();

} // namespace pw
