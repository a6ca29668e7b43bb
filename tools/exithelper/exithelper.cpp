// A stand-in program for the launcher's tests: "exithelper.exe CODE OUTFILE" writes its
// working directory, the start-up show-window command and the start-up flags to OUTFILE, one
// per line, and exits with CODE.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "win/Handles.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc < 3)
        return 255;
    char directory[MAX_PATH + 1] = {};
    const DWORD n = GetCurrentDirectoryA(sizeof directory, directory);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);

    std::string report(directory, n < sizeof directory ? n : 0);
    report += "\r\n" + std::to_string(startup.wShowWindow) + "\r\n" +
              std::to_string(startup.dwFlags) + "\r\n";
    // Written to a temporary name and renamed, so that a reader never sees half a report.
    const std::string target = __argv[2];
    const std::string partial = target + ".part";
    {
        const pw::UniqueFile file(CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return 254;
        DWORD written = 0;
        WriteFile(file.get(), report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    }
    if (!MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 253;
    return std::atoi(__argv[1]);
}
