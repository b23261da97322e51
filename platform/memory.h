#pragma once
// How much more memory this process may take, so that a run too large for the
// machine is refused at its start instead of being killed half-way (or failing
// with an allocation error deep inside an encoder).
#include <cstddef>
#include <cstdint>
#include <optional>

namespace pagiro {

struct MemoryRoom {
    enum class Limit {
        physical,       // the machine's physical memory
        address_space,  // the process's address-space limit (ulimit -v)
        cgroup,         // the memory limit of the process's control group (a container)
    };
    std::uint64_t bytes = 0;
    Limit limit = Limit::physical;
};

// The tightest of the limits that can be read: the machine's physical memory, the
// room left under the address-space limit and the room left under the control
// group's limit. Nothing when none of them can be read.
std::optional<MemoryRoom> memory_room();

// Asks the system to back a large, freshly allocated and not yet written block
// with large pages (2 MB on x86-64), where it offers them only on request: a
// 4000 x 3000 page then costs tens of page faults instead of tens of thousands.
// Only the whole large pages inside the block are affected; blocks under 4 MB,
// and systems without large pages, are left as they are. Returns whether the
// system took the request.
bool advise_large_pages(void* data, std::size_t bytes);

}  // namespace pagiro
