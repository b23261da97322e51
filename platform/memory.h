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

}  // namespace pagiro
