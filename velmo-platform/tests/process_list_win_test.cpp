#ifdef _WIN32

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "../src/process_list_win.hpp"
#include "velmo/platform.hpp"

namespace {

using velmo::platform::windows::list_process_ids;

// Wine lists no idle process; Windows always lists it with id 0.
bool under_wine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool contains(const std::vector<std::uintptr_t>& ids, std::uintptr_t id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

TEST(WindowsProcessList, ListsTheCallerAndTheIdleProcess) {
    auto ids = list_process_ids();
    ASSERT_TRUE(ids.has_value());
    EXPECT_TRUE(contains(*ids, ::GetCurrentProcessId()));
    EXPECT_TRUE(velmo::platform::process_exists(::GetCurrentProcessId()));
    if (!under_wine()) {
        EXPECT_TRUE(contains(*ids, 0));
        EXPECT_TRUE(velmo::platform::process_exists(0));
    }
}

// A list laid out as the system writes it: entries of different lengths,
// each pointing at the next, the idle and system processes first.
TEST(WindowsProcessList, WalkTakesEveryEntryByItsOffset) {
    constexpr std::size_t entry = sizeof(SYSTEM_PROCESS_INFORMATION);
    const std::uintptr_t listed[] = {0, 4, 1234, 4294967292u};
    const std::size_t lengths[] = {entry + 80, entry, entry + 8, entry};
    std::vector<std::uint64_t> storage((entry * 4 + 88) / 8 + 1);
    auto* bytes = reinterpret_cast<unsigned char*>(storage.data());
    std::size_t offset = 0;
    for (int i = 0; i < 4; ++i) {
        auto* info = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(bytes + offset);
        info->NextEntryOffset = i < 3 ? static_cast<ULONG>(lengths[i]) : 0;
        info->UniqueProcessId = reinterpret_cast<HANDLE>(listed[i]);
        offset += lengths[i];
    }
    std::size_t size = storage.size() * 8;
    auto ids = velmo::platform::windows::ids_in_process_list(bytes, size);
    ASSERT_TRUE(ids.has_value());
    EXPECT_EQ(*ids, (std::vector<std::uintptr_t>{0, 4, 1234, 4294967292u}));

    // An offset that leads past the end is a broken list, not more entries.
    reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(bytes)->NextEntryOffset =
        static_cast<ULONG>(size);
    EXPECT_FALSE(velmo::platform::windows::ids_in_process_list(bytes, size).has_value());
}

TEST(WindowsProcessList, AnIdNoProcessHasIsAbsent) {
    auto ids = list_process_ids();
    ASSERT_TRUE(ids.has_value());
    // Process ids are multiples of four, so an odd one is never listed; one
    // past the largest listed id is free as well.
    std::uintptr_t largest = *std::max_element(ids->begin(), ids->end());
    EXPECT_FALSE(velmo::platform::process_exists(static_cast<std::uint32_t>(largest + 4)));
    EXPECT_FALSE(velmo::platform::process_exists(4294967295u));
}

TEST(WindowsProcessList, GrowsASmallFirstBufferUntilTheListFits) {
    // None of these can hold even one entry, so every one of them is read
    // only after the buffer has grown; 0 also exercises the fallback size.
    for (std::size_t first : {0u, 1u, 64u}) {
        auto ids = list_process_ids(first);
        ASSERT_TRUE(ids.has_value()) << "first buffer " << first;
        EXPECT_TRUE(contains(*ids, ::GetCurrentProcessId())) << "first buffer " << first;
    }
}

// Paths a retry under wine never takes: no size reported, and a size
// beyond the call's 32-bit length, which ends the retries.
TEST(WindowsProcessList, GrowthWithoutAReportedSizeDoublesAndStopsAt32Bits) {
    using velmo::platform::windows::grown_size;
    EXPECT_EQ(grown_size(4096, 0), 8192u);
    EXPECT_EQ(grown_size(std::size_t{1} << 31, 0), 0u);
    EXPECT_EQ(grown_size(64, 4294967295u), 0u);
}

}  // namespace

#endif  // _WIN32
