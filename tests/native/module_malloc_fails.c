/* Preloaded into a child interpreter: makes the allocations that one shared
 * object (the extension module, whose C++ runtime is linked in statically)
 * requests from malloc fail on request, as _testcapi.set_nomemory does for
 * the interpreter's own. Allocations from anywhere else go on as usual. */
#define _GNU_SOURCE
#include <errno.h>
#include <link.h>
#include <stddef.h>
#include <stdint.h>

/* The C library's own malloc. glibc exports it under a second name (its
 * dlsym may allocate, so cannot find it from in here); musl has no such
 * name, and its dlsym allocates nothing. */
#ifdef __GLIBC__
extern void* __libc_malloc(size_t size);
static void* libc_malloc(size_t size) { return __libc_malloc(size); }
#else
#include <dlfcn.h>
static void* libc_malloc(size_t size) {
    static void* (*next_malloc)(size_t);
    if (next_malloc == NULL) next_malloc = (void* (*)(size_t))dlsym(RTLD_NEXT, "malloc");
    return next_malloc(size);
}
#endif

static uintptr_t module_start, module_end;
static long counted, fail_from = -1, fail_until, failed;

/* The address range of the loaded object that holds `data`. */
static int find_module(struct dl_phdr_info* info, size_t size, void* data) {
    (void)size;
    uintptr_t inside = (uintptr_t)data, start = UINTPTR_MAX, end = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)* segment = &info->dlpi_phdr[i];
        if (segment->p_type != PT_LOAD) continue;
        uintptr_t low = info->dlpi_addr + segment->p_vaddr;
        if (low < start) start = low;
        if (low + segment->p_memsz > end) end = low + segment->p_memsz;
    }
    if (inside < start || inside >= end) return 0;
    module_start = start;
    module_end = end;
    return 1;
}

/* From now on, the module's allocations numbered start and on fail; with a
 * nonzero stop, only those before stop. */
void module_malloc_fails(void* inside_module, long start, long stop) {
    dl_iterate_phdr(find_module, inside_module);
    counted = failed = 0;
    fail_until = stop;
    fail_from = start;
}

/* Ends the failures; returns how many allocations failed. */
long module_malloc_restored(void) {
    fail_from = -1;
    return failed;
}

void* malloc(size_t size) {
    uintptr_t caller = (uintptr_t)__builtin_return_address(0);
    if (fail_from >= 0 && caller >= module_start && caller < module_end) {
        long index = counted++;
        if (index >= fail_from && (fail_until == 0 || index < fail_until)) {
            ++failed;
            errno = ENOMEM;
            return NULL;
        }
    }
    return libc_malloc(size);
}
