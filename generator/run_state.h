#pragma once
// The run state shared by the window and the generator.
#include <cstdint>

namespace pagiro::mk {

inline std::int16_t runflag = 0;   // -1 while a run is under way, 0 when idle or stopping
// The page being made; after a run, one past the last page written. Wide enough
// for any novel: a long one at the classic page size runs past 100,000 pages.
inline std::int64_t pageno = 0;
inline std::int16_t hasrun = 0;    // -1 once any run has been started
inline float starttime = 0;        // seconds since midnight when the run started

}  // namespace pagiro::mk
