#include "entry.hpp"

namespace velmo::py {

// Read from the running interpreter's version text ("3.11.7 (main, ...)"),
// not from the headers, which are those of 3.8.
bool interpreter_has_fast_calls() noexcept {
    const char* version = Py_GetVersion();
    int major = 0;
    int minor = 0;
    while (*version >= '0' && *version <= '9') major = major * 10 + (*version++ - '0');
    if (*version == '.') ++version;
    while (*version >= '0' && *version <= '9') minor = minor * 10 + (*version++ - '0');
    return major > 3 || (major == 3 && minor >= 10);
}

}  // namespace velmo::py
