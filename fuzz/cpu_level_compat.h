#pragma once
// clang 14 knows no processor levels in __builtin_cpu_supports ("x86-64-v3"), which
// g++ 12 does; the fuzz build force-includes this into the encoder's sources and
// answers such a question from the level's features.
#include <cstring>

static inline bool pagiro_fuzz_cpu_supports(const char* feature) {
    if (std::strcmp(feature, "x86-64-v3") == 0)
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx") && __builtin_cpu_supports("fma") &&
               __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
               __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("sse4.2");
    if (std::strcmp(feature, "avx2") == 0) return __builtin_cpu_supports("avx2");
    if (std::strcmp(feature, "sse2") == 0) return __builtin_cpu_supports("sse2");
    return false;
}

#define __builtin_cpu_supports(feature) pagiro_fuzz_cpu_supports(feature)
