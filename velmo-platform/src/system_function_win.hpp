// Run-time look-up of functions that not every Windows version has.
#pragma once

#include <windows.h>

namespace velmo::platform::windows {

// `name` from the system DLL `library`, as a pointer of type `Function`, or
// null when the DLL or the function is missing. The DLL is loaded from the
// system directory only and stays loaded.
template <typename Function>
Function find_system_function(const wchar_t* library, const char* name) noexcept {
    HMODULE module = ::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    FARPROC found = module != nullptr ? ::GetProcAddress(module, name) : nullptr;
    // Through a generic function pointer: the documented way to change a
    // function pointer's type without a cast-function-type warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

}  // namespace velmo::platform::windows
