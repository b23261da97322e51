#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <vector>
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

namespace pagiro {
namespace {

// The kernel's flags of the mapping that holds `address` ("hg" marks advice for
// large pages), from /proc/self/smaps; empty when no mapping holds it.
std::string mapping_flags(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t from = 0, to = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> from >> dash >> to && dash == '-' && line.find(':') > line.find(' ')) {
            inside = from <= at && at < to;
            continue;
        }
        if (inside && line.rfind("VmFlags:", 0) == 0) return line.substr(8) + " ";
    }
    return {};
}

bool large_page_advice(const void* address) { return mapping_flags(address).find(" hg ") != std::string::npos; }

TEST(LargePages, NothingForNoBlockOrASmallOne) {
    EXPECT_FALSE(advise_large_pages(nullptr, std::size_t(64) << 20));
    std::vector<std::uint8_t> small(std::size_t(3) << 20);
    EXPECT_FALSE(advise_large_pages(small.data(), small.size()));
    EXPECT_FALSE(large_page_advice(small.data()));
}

TEST(LargePages, OnlyTheWholeLargePagesInsideTheBlockAreAdvised) {
    if (::access("/sys/kernel/mm/transparent_hugepage/enabled", F_OK) != 0)
        GTEST_SKIP() << "this kernel has no large pages";
    constexpr std::size_t kLarge = std::size_t(2) << 20;
    // A mapping of its own, so that the pages around the block are known to be
    // ours: the block starts a little past one large page and ends short of another.
    const std::size_t mapped = 12 * kLarge;
    void* base = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(base, MAP_FAILED);
    auto* bytes = static_cast<std::uint8_t*>(base);
    const std::uintptr_t first_large = (reinterpret_cast<std::uintptr_t>(bytes) + kLarge - 1) & ~(kLarge - 1);
    std::uint8_t* block = reinterpret_cast<std::uint8_t*>(first_large) + 4096;
    const std::size_t size = 6 * kLarge;
    ASSERT_TRUE(advise_large_pages(block, size));
    // Inside: the five whole large pages from the next boundary on.
    const std::uint8_t* advised_from = reinterpret_cast<std::uint8_t*>(first_large) + kLarge;
    EXPECT_TRUE(large_page_advice(advised_from));
    EXPECT_TRUE(large_page_advice(advised_from + 5 * kLarge - 1));
    // Outside: the block's ragged start and end, and what lies beyond them.
    EXPECT_FALSE(large_page_advice(block));
    EXPECT_FALSE(large_page_advice(advised_from - 1));
    EXPECT_FALSE(large_page_advice(advised_from + 5 * kLarge));
    EXPECT_FALSE(large_page_advice(block + size - 1));
    EXPECT_FALSE(large_page_advice(bytes));
    // Written and read back as any memory.
    for (std::size_t i = 0; i < size; i += 4096) block[i] = std::uint8_t(i >> 12);
    bool intact = true;
    for (std::size_t i = 0; i < size; i += 4096) intact = intact && block[i] == std::uint8_t(i >> 12);
    EXPECT_TRUE(intact);
    ::munmap(base, mapped);
}

}  // namespace
}  // namespace pagiro
