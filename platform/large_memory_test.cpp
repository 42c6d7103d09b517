// Large memory: whole runs, writable and zeroed; nothing for no size or an
// impossible one.
#include "platform/large_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(LargeMemory, GivesWritableZeroedRunsAndNothingForNoneOrTooMuch) {
    for (const std::size_t size :
         {std::size_t{1}, platform::kLargeRun, 2 * platform::kLargeRun + 3}) {
        auto* bytes = static_cast<unsigned char*>(platform::AllocateLarge(size));
        ASSERT_NE(bytes, nullptr) << size;
#ifndef _WIN32
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes) % platform::kLargeRun, 0u) << size;
#endif
        EXPECT_EQ(bytes[0] | bytes[size / 2] | bytes[size - 1], 0) << size;
        std::memset(bytes, 0xAB, size);
        EXPECT_EQ(bytes[size - 1], 0xAB);
        platform::FreeLarge(bytes, size);
    }
    EXPECT_EQ(platform::AllocateLarge(0), nullptr);
    EXPECT_EQ(platform::AllocateLarge(SIZE_MAX / 2), nullptr);
    platform::FreeLarge(nullptr, 0);
}

}  // namespace
