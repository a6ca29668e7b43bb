// Reading the client's files; see Settings.h.
#include "Settings.h"

#include <utility>

#include "win/Handles.h"
#include "win/Trace.h"

namespace pw {

namespace {
// No client file is anywhere near this size; a larger one is read only this far.
constexpr DWORD kMaxFileSize = 16 * 1024 * 1024;
constexpr char kSettingsFile[] = ".\\Corvex.INI";
// The client holds a file only while it writes it.
constexpr DWORD kHeldFileWaitMs = 3000;
constexpr DWORD kHeldFileRetryMs = 100;

HANDLE OpenShared(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

ClientFileOpener& Opener() {
    static ClientFileOpener opener = &OpenShared;
    return opener;
}

bool HeldByAnotherProgram(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Opens for reading; a file another program holds is tried again for a while when a pause is
// given.
UniqueFile OpenClientFile(const std::string& path, DWORD& error, const HeldFilePause& pause) {
    for (DWORD waited = 0;; waited += kHeldFileRetryMs) {
        UniqueFile file(Opener()(path));
        error = file ? ERROR_SUCCESS : GetLastError();
        if (file || !HeldByAnotherProgram(error) || !pause || waited >= kHeldFileWaitMs ||
            !pause(kHeldFileRetryMs))
            return file;
    }
}
} // namespace

ClientFileOpener SetClientFileOpener(ClientFileOpener opener) {
    return std::exchange(Opener(), opener ? std::move(opener) : &OpenShared);
}

bool PauseUnpumped(DWORD milliseconds) {
    Sleep(milliseconds);
    return true;
}

std::optional<std::string> ReadFileText(const std::string& path, DWORD* error,
                                        const HeldFilePause& pause) {
    DWORD openError = ERROR_SUCCESS;
    UniqueFile file = OpenClientFile(path, openError, pause);
    if (error != nullptr)
        *error = openError;
    if (!file)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (text.size() < kMaxFileSize &&
           ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    return text;
}

bool FileMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void TraceUnreadable(const std::string& name, DWORD error) {
    if (!FileMissing(error))
        Trace(name + " cannot be read (error " + std::to_string(error) + "): read as missing");
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ClientSettingsReadable(DWORD& error, const HeldFilePause& pause) {
    return static_cast<bool>(OpenClientFile(kSettingsFile, error, pause)) || FileMissing(error);
}

std::string ReadClientSetting(const std::string& section, const std::string& key) {
    char value[256] = {};
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value, sizeof value,
                                             kSettingsFile);
    return std::string(value, n < sizeof value ? n : sizeof value - 1);
}

} // namespace pw
