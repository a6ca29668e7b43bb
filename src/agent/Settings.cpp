// Reading the client's files; see Settings.h.
#include "Settings.h"

#include <utility>

#include "win/Handles.h"

namespace pw {

namespace {
// No client file is anywhere near this size; a larger one is read only this far.
constexpr DWORD kMaxFileSize = 16 * 1024 * 1024;

HANDLE OpenShared(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

ClientFileOpener& Opener() {
    static ClientFileOpener opener = &OpenShared;
    return opener;
}
} // namespace

ClientFileOpener SetClientFileOpener(ClientFileOpener opener) {
    return std::exchange(Opener(), opener ? std::move(opener) : &OpenShared);
}

std::optional<std::string> ReadFileText(const std::string& path) {
    UniqueFile file(Opener()(path));
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

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string ReadClientSetting(const std::string& section, const std::string& key) {
    constexpr char kSettingsFile[] = ".\\Corvex.INI";
    // The profile call tells nothing of a file it cannot open: the file is opened first, as the
    // other client files are, and one that another program holds reads as empty, as the
    // profile call would give it.
    if (FileExists(kSettingsFile) && !UniqueFile(Opener()(kSettingsFile)))
        return std::string();
    char value[256] = {};
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value, sizeof value,
                                             kSettingsFile);
    return std::string(value, n < sizeof value ? n : sizeof value - 1);
}

} // namespace pw
