// The lock around the Engine's state that calls share: the generator and the
// noise table.
#pragma once

#include "python.hpp"

namespace velmo::py {

#ifdef Py_GIL_DISABLED
// Without a GIL, calls from several threads run at once. The interpreter's
// own mutex detaches a thread that has to wait, so a waiting thread never
// holds up the interpreter's stop-the-world pauses.
class SharedStateLock {
public:
    void lock() noexcept { PyMutex_Lock(&mutex_); }
    void unlock() noexcept { PyMutex_Unlock(&mutex_); }

private:
    PyMutex mutex_{};
};
#else
// Under the GIL a call runs whole before another thread's call starts: the
// bodies that take this lock run no Python code and never release the GIL.
// The lock compiles to nothing, so such calls cost what they always did.
class SharedStateLock {
public:
    void lock() noexcept {}
    void unlock() noexcept {}
};
#endif

}  // namespace velmo::py
