// What a long run of the agent in this process uses of handles, GUI objects and memory, measured
// the same way by the soak and the fault-injection run: a table of measurements and the growth
// between two of them against an allowance. Where the platform's own count is not available
// (Wine answers GetProcessHandleCount with 0, GetGuiResources not at all and PrivateUsage with 0),
// handles are counted by probing, private bytes by walking the address space, and GUI objects
// are left out (-1). Windows are counted always, as a part of the USER objects that every
// platform shows.
#pragma once

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

namespace pw::test {

// Growth allowed from the end of a warm-up to the end of a run.
struct UsageAllowance {
    long handles = 16;
    long guiObjects = 8;
    long long privateBytes = 2 * 1024 * 1024;
};

struct Usage {
    int checks = 0;
    long handles = 0;
    long gdiObjects = -1;
    long userObjects = -1;
    long windows = 0;
    long threads = 0; // under Wine each thread's stack counts in full to the private bytes
    long long privateBytes = 0;
    bool handlesProbed = false;
    bool privateBytesWalked = false;
};

namespace usage_detail {

inline long ProbeHandles() {
    constexpr ULONG_PTR kGapToStop = 4096 * 4; // handle values are multiples of 4
    long count = 0;
    ULONG_PTR lastValid = 0;
    for (ULONG_PTR value = 4; value - lastValid < kGapToStop; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            lastValid = value;
        }
    }
    return count;
}

inline long long CommittedPrivateBytes() {
    long long total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<long long>(region.RegionSize);
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return total;
}

inline BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}

inline void CountWindowAndChildren(HWND window, long& count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId())
        return;
    ++count;
    EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(&count));
}

inline BOOL CALLBACK CountTopLevel(HWND window, LPARAM count) {
    CountWindowAndChildren(window, *reinterpret_cast<long*>(count));
    return TRUE;
}

// Top-level windows and message-only windows of this process, with their descendants.
inline long CountWindows() {
    long count = 0;
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
    for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
         window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr))
        CountWindowAndChildren(window, count);
    return count;
}

inline long GuiObjects(DWORD kind) {
    SetLastError(0);
    const DWORD count = GetGuiResources(GetCurrentProcess(), kind);
    return count == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED ? -1
                                                                      : static_cast<long>(count);
}

inline long CountThreads() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    long count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

inline std::string Count(long long value) {
    return value < 0 ? "n/a" : std::to_string(value);
}

inline std::string Signed(long long value) {
    return (value > 0 ? "+" : "") + std::to_string(value);
}

} // namespace usage_detail

inline Usage MeasureUsage(int checks) {
    using namespace usage_detail;
    Usage usage;
    usage.checks = checks;
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0) {
        usage.handles = static_cast<long>(handles);
    } else {
        usage.handles = ProbeHandles();
        usage.handlesProbed = true;
    }
    usage.gdiObjects = GuiObjects(GR_GDIOBJECTS);
    usage.userObjects = GuiObjects(GR_USEROBJECTS);
    usage.windows = CountWindows();
    usage.threads = CountThreads();
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) &&
        memory.PrivateUsage > 0) {
        usage.privateBytes = static_cast<long long>(memory.PrivateUsage);
    } else {
        usage.privateBytes = CommittedPrivateBytes();
        usage.privateBytesWalked = true;
    }
    return usage;
}

inline void PrintUsageHeader() {
    std::cout << std::left << std::setw(16) << "" << std::right << std::setw(8) << "checks"
              << std::setw(9) << "handles" << std::setw(7) << "GDI" << std::setw(7) << "USER"
              << std::setw(9) << "windows" << std::setw(9) << "threads" << std::setw(16)
              << "private bytes"
              << "\n";
}

inline void PrintUsage(const std::string& label, const Usage& u) {
    using usage_detail::Count;
    std::cout << std::left << std::setw(16) << label << std::right << std::setw(8) << u.checks
              << std::setw(9) << u.handles << std::setw(7) << Count(u.gdiObjects) << std::setw(7)
              << Count(u.userObjects) << std::setw(9) << u.windows << std::setw(9)
              << Count(u.threads) << std::setw(16) << u.privateBytes << std::endl;
}

// Of measurements in the order taken, the one to measure the growth up to the last from: the
// first before it with as many threads as the last. Threads of the platform's own pools come and
// go, and where private bytes are walked each counts with its whole stack (some MiB under Wine),
// which is no growth of the agent's; a thread that stays for good is, and then the first is taken.
inline const Usage& GrowthBase(const std::vector<Usage>& measured) {
    for (size_t i = 0; i + 1 < measured.size(); ++i)
        if (measured[i].threads == measured.back().threads)
            return measured[i];
    return measured.front();
}

// Prints the growth from warmedUp to end against the allowance; true when something grew
// beyond it.
inline bool GrewTooMuch(const Usage& warmedUp, const Usage& end,
                        const UsageAllowance& allowance = {}) {
    using usage_detail::Signed;
    struct Row {
        const char* name;
        long long before;
        long long after;
        long long allowance;
    };
    const Row rows[] = {
        {"handles", warmedUp.handles, end.handles, allowance.handles},
        {"GDI objects", warmedUp.gdiObjects, end.gdiObjects, allowance.guiObjects},
        {"USER objects", warmedUp.userObjects, end.userObjects, allowance.guiObjects},
        {"windows", warmedUp.windows, end.windows, allowance.guiObjects},
        {"private bytes", warmedUp.privateBytes, end.privateBytes, allowance.privateBytes}};
    bool grew = false;
    std::cout << (warmedUp.checks == 0 ? "growth from the start (the run ended before the "
                                         "warm-up; allowed):"
                                       : "growth after warm-up (allowed):");
    for (const Row& row : rows) {
        if (row.before < 0 || row.after < 0) {
            std::cout << " " << row.name << " n/a;";
            continue;
        }
        const long long growth = row.after - row.before;
        std::cout << " " << row.name << " " << Signed(growth) << " (+" << row.allowance << ");";
        grew |= growth > row.allowance;
    }
    std::cout << (grew ? "  -- TOO MUCH" : "") << "\n";
    if (end.handlesProbed)
        std::cout << "  handles: GetProcessHandleCount gave none; counted by probing\n";
    if (warmedUp.gdiObjects < 0 || warmedUp.userObjects < 0)
        std::cout << "  GDI/USER objects: GetGuiResources is not implemented here\n";
    if (end.privateBytesWalked)
        std::cout << "  private bytes: PrivateUsage gave none; committed private memory "
                     "summed over the address space\n";
    std::cout << std::flush;
    return grew;
}

} // namespace pw::test
