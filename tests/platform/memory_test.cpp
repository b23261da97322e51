#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace pagiro {
namespace {

TEST(MemoryRoom, NeverMoreThanTheMachineHas) {
    const auto room = memory_room();
    ASSERT_TRUE(room);  // Linux always tells its physical memory
    const std::uint64_t physical = std::uint64_t(::sysconf(_SC_PHYS_PAGES)) * std::uint64_t(::sysconf(_SC_PAGESIZE));
    EXPECT_GT(room->bytes, 0u);
    EXPECT_LE(room->bytes, physical);
}

#if !defined(__SANITIZE_ADDRESS__)
std::uint64_t address_space_in_use() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    return pages * std::uint64_t(::sysconf(_SC_PAGESIZE));
}

TEST(MemoryRoom, AnAddressSpaceLimitCountsWhatIsLeftUnderIt) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &saved), 0);
    const std::uint64_t in_use = address_space_in_use();
    rlimit tight{in_use + (std::uint64_t(100) << 20), saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &tight), 0);
    const auto room = memory_room();
    ::setrlimit(RLIMIT_AS, &saved);
    ASSERT_TRUE(room);
    EXPECT_EQ(room->limit, MemoryRoom::Limit::address_space);
    EXPECT_LE(room->bytes, std::uint64_t(100) << 20);
    EXPECT_GT(room->bytes, std::uint64_t(90) << 20);
}
#endif

}  // namespace
}  // namespace pagiro
