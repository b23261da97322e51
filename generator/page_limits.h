#pragma once
// How large a page may be. Two things bound it, and both are checked before a run
// starts, so that a run either can finish or does not begin: what the format's
// file can describe, and what a run of such pages holds in memory (the drawing
// surface, and the pages in flight in the pipeline) against what this process may
// still take.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "generator/formats.h"
#include "generator/run_failure.h"
#include "platform/memory.h"

namespace pagiro {

// What a run of pages of one size holds in memory.
struct PageMemory {
    std::uint64_t per_run = 0;      // the drawing surface and its cleared copy, the workers' own
    std::uint64_t per_page = 0;     // one page in flight: its pixels, its encoding, its file
    std::size_t pages_in_flight = 0;  // how many the pipeline holds at most

    std::uint64_t total() const { return per_run + per_page * pages_in_flight; }
};

inline constexpr std::size_t kMaxPagesInFlight = 32;
// Pages in flight beyond the one always let through. With the drawing surface and
// the process itself this keeps a run within about 100 MB plus three pages'
// pixels, whatever the page size; small pages stay many in flight all the same.
inline constexpr std::uint64_t kMaxBytesInFlight = std::uint64_t(64) << 20;

PageMemory page_memory(const PageFormat& format, std::uint64_t width, std::uint64_t height, unsigned workers);

// Why pages of width × height pixels cannot be made in this format, with `room`
// the memory this process may still take (nothing: unknown, not checked); nothing
// when they can.
std::optional<RunFailure> page_size_refusal(const PageFormat& format, double width, double height, unsigned workers,
                                            const std::optional<MemoryRoom>& room);

}  // namespace pagiro
