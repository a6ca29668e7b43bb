// Reading the client's files: whole text files, and values of the client's settings file
// ".\Corvex.INI" through the profile call. A file that the client holds open while it writes it
// is tried again for a few seconds, with the caller's pause between the tries, before it counts
// as unreadable.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace pw {

// How a reader waits between its tries of a file that another program holds; false ends the
// tries. Without one a held file is tried once.
using HeldFilePause = std::function<bool(DWORD milliseconds)>;

// A pause that does not pump: only for start-up, before any handler may run on settings read
// halfway. A check pumps while it waits (WaitMilliseconds), or the tray stops answering.
bool PauseUnpumped(DWORD milliseconds);

// The file's bytes; empty when it does not exist or cannot be read, and then error (when given)
// says why (see FileMissing). A file that breaks off while being read gives what was read
// before.
std::optional<std::string> ReadFileText(const std::string& path, DWORD* error = nullptr,
                                        const HeldFilePause& pause = nullptr);

// The error of a file that is not there, rather than one that cannot be read.
bool FileMissing(DWORD error);

// A client file that is there and cannot be read (held by another program for longer than the
// reader waits, say) is read as missing; the trace says so.
void TraceUnreadable(const std::string& name, DWORD error);

bool FileExists(const std::string& path);

// Whether ".\Corvex.INI" can be read (also when it does not exist: its values are then empty);
// error says why not. The profile call tells nothing of a file it cannot open, so the file is
// opened once before its values are asked for.
bool ClientSettingsReadable(DWORD& error, const HeldFilePause& pause);

// The value of key in section of ".\Corvex.INI", the empty text when there is none.
std::string ReadClientSetting(const std::string& section, const std::string& key);

// Seam for tests: how the client's files are opened for reading (by default CreateFileA, shared
// with a writer). A replacement answers as a file held by another program would: an invalid
// handle and its error as the last error. Returns the opener it replaces; an empty one restores
// the default.
using ClientFileOpener = std::function<HANDLE(const std::string& path)>;
ClientFileOpener SetClientFileOpener(ClientFileOpener opener);

} // namespace pw
