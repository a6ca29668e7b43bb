// Reading the client's files: whole text files, and values of the client's settings file
// ".\Corvex.INI" through the profile call.
#pragma once

#include <optional>
#include <string>

namespace pw {

// The file's bytes; empty when it does not exist or cannot be read. A file that breaks off
// while being read gives what was read before.
std::optional<std::string> ReadFileText(const std::string& path);

bool FileExists(const std::string& path);

// The value of key in section of ".\Corvex.INI", the empty text when there is none.
std::string ReadClientSetting(const std::string& section, const std::string& key);

} // namespace pw
