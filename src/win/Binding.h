// Run-time binding to system libraries: one way to look a function up by name and get it
// typed like its declaration. Every binding (Winsock, RAS) goes through it.
#pragma once

#include <windows.h>

namespace pw {

// A looked-up address as the function type it was declared with (or a function as the generic
// FARPROC); nullptr stays nullptr.
template <typename Function, typename Address> Function TypedProc(Address address) {
    // Through the generic function pointer type: a direct cast from FARPROC draws a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// The library's function of that name, typed; nullptr when the library or the name is missing.
template <typename Function> Function LookUpFunction(HMODULE library, const char* name) {
    return library != nullptr ? TypedProc<Function>(GetProcAddress(library, name)) : nullptr;
}

} // namespace pw
