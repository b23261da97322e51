#include "memory.h"

#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace pagiro {
namespace {

// A limit this large is no limit (cgroup v1 writes "no limit" as about 2^63).
constexpr std::uint64_t kUnlimited = std::uint64_t(1) << 62;

std::optional<std::uint64_t> read_number(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    if (!(in >> word) || word.empty() || word.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;  // also "max": no limit
    try {
        return std::stoull(word);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::uint64_t page_size() {
    const long p = ::sysconf(_SC_PAGESIZE);
    return p > 0 ? std::uint64_t(p) : 4096;
}

std::optional<std::uint64_t> physical_memory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    if (pages <= 0) return std::nullopt;
    return std::uint64_t(pages) * page_size();
}

std::optional<std::uint64_t> address_space_room() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    if (!(statm >> pages)) return std::nullopt;
    const std::uint64_t used = pages * page_size();
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

// The room under a limit file and its usage file, in the process's own group or,
// where a container shows its group at the root of the mount, there.
std::optional<std::uint64_t> cgroup_room(const std::string& mount, const std::string& group, const char* limit_file,
                                         const char* usage_file) {
    for (const std::string& folder : {mount + group, mount}) {
        const auto limit = read_number(folder + "/" + limit_file);
        if (!limit) continue;
        if (*limit >= kUnlimited) return std::nullopt;
        const std::uint64_t used = read_number(folder + "/" + usage_file).value_or(0);
        return *limit > used ? *limit - used : 0;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> control_group_room() {
    // Lines of /proc/self/cgroup: "0::/path" (cgroup v2), "4:memory:/path" (v1).
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line)) {
        const auto first = line.find(':');
        const auto second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string group = line.substr(second + 1);
        if (controllers.empty()) {
            if (auto room = cgroup_room("/sys/fs/cgroup", group, "memory.max", "memory.current")) return room;
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            if (auto room = cgroup_room("/sys/fs/cgroup/memory", group, "memory.limit_in_bytes",
                                        "memory.usage_in_bytes"))
                return room;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<MemoryRoom> memory_room() {
    std::optional<MemoryRoom> tightest;
    auto consider = [&](std::optional<std::uint64_t> bytes, MemoryRoom::Limit limit) {
        if (bytes && (!tightest || *bytes < tightest->bytes)) tightest = MemoryRoom{*bytes, limit};
    };
    consider(physical_memory(), MemoryRoom::Limit::physical);
    consider(address_space_room(), MemoryRoom::Limit::address_space);
    consider(control_group_room(), MemoryRoom::Limit::cgroup);
    return tightest;
}

}  // namespace pagiro
