// The program's own file: where it is, and its name without folder and extension (the agent's
// DDE service name, the caption of the exception box).
#pragma once

#include <string>
#include <string_view>

namespace pw {

// The full path of this program's file; empty when the system cannot say (a path longer than
// MAX_PATH).
std::string ProgramFilePath();

// The folder part of a path, up to and with its last separator ("\", "/" or a drive's ":");
// empty when it has none.
std::string DirectoryOf(std::string_view path);

// The file name of a path without its folder and its extension ("pwagent" for
// "C:\CXsystem\pwagent.exe"); a name that is only an extension keeps it.
std::string ProgramName(std::string_view path);
// This program's name.
std::string ProgramName();

} // namespace pw
