#include <windows.h>

#include <array>
#include <cstdio>
#include <limits>

#include "entropy_win.hpp"
#include "system_function_win.hpp"
#include "velmo/platform.hpp"

namespace velmo::platform {
namespace windows {
namespace {

std::string hex_status(const char* what, unsigned long code) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed with status 0x%08lX", what, code);
    return text;
}

// Both calls take a 32-bit length. The engine draws a 4-byte seed, so a
// larger request is refused rather than cut into pieces.
bool fits_in_one_call(std::size_t size, std::string& error) {
    if (size <= std::numeric_limits<ULONG>::max()) return true;
    error = "more than 4 GiB of random bytes requested";
    return false;
}

}  // namespace

bool fill_from_bcrypt(unsigned char* buffer, std::size_t size, std::string& error) {
    using GenRandom = LONG(WINAPI*)(void*, unsigned char*, ULONG, ULONG);
    constexpr ULONG system_preferred_rng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
    // Looked up at run time, like the fallback, so that a system without
    // one of the two still loads the module and uses the other.
    static const auto gen_random =
        find_system_function<GenRandom>(L"bcrypt.dll", "BCryptGenRandom");
    if (gen_random == nullptr) {
        error = "BCryptGenRandom is not available";
        return false;
    }
    if (!fits_in_one_call(size, error)) return false;
    const LONG status = gen_random(nullptr, buffer, static_cast<ULONG>(size), system_preferred_rng);
    if (status < 0) error = hex_status("BCryptGenRandom", static_cast<unsigned long>(status));
    return status >= 0;
}

bool fill_from_rtl_gen_random(unsigned char* buffer, std::size_t size, std::string& error) {
    using GenRandom = BOOLEAN(WINAPI*)(void*, ULONG);
    static const auto gen_random =
        find_system_function<GenRandom>(L"advapi32.dll", "SystemFunction036");
    if (gen_random == nullptr) {
        error = "SystemFunction036 is not available";
        return false;
    }
    if (!fits_in_one_call(size, error)) return false;
    const bool filled = gen_random(buffer, static_cast<ULONG>(size));
    if (!filled) error = "SystemFunction036 failed";
    return filled;
}

bool fill_from_first_working(std::span<const RandomSource> sources, unsigned char* buffer,
                             std::size_t size, std::string& error) noexcept {
    try {
        std::string failures;
        for (RandomSource source : sources) {
            std::string failure;
            if (source(buffer, size, failure)) return true;
            if (!failures.empty()) failures += "; ";
            failures += failure;
        }
        error = std::move(failures);
    } catch (...) {
        error = "out of memory";
    }
    return false;
}

}  // namespace windows

bool fill_random(void* buffer, std::size_t size, std::string& error) noexcept {
    static constexpr std::array<windows::RandomSource, 2> sources{
        &windows::fill_from_bcrypt, &windows::fill_from_rtl_gen_random};
    return windows::fill_from_first_working(sources, static_cast<unsigned char*>(buffer), size,
                                            error);
}

}  // namespace velmo::platform
