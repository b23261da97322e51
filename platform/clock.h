#pragma once
// The system timer and the current date and time, as the summary shows them.
#include <string>

namespace pagiro {

// Seconds since local midnight, with fraction, single precision.
float timer_seconds();

// Whole seconds from `start` to `now`, both timer values; a run that crosses
// midnight adds a day instead of going negative.
long elapsed_seconds(float start, float now);

// The current local date and time in the form a Chinese system shows by default,
// for example "2026/12/7 5:08:09".
std::string now_text();

}  // namespace pagiro
