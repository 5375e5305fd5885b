// The vector-unit guards and bit helpers of the library, written once.
//
// ORVANE_SSE2 is 1 where SSE2 can be used unconditionally (every x86-64
// build, and 32-bit builds given -msse2); the code under it always has a
// plain twin beside it that the other builds use and the tests compare with.
// ORVANE_AVX2_DISPATCH is 1 where AVX2 functions can be compiled for a
// runtime choice (ORVANE_TARGET_AVX2 on the function, cpuHasAvx2() to pick),
// and the same for AVX-512 (ORVANE_TARGET_AVX512, cpuHasAvx512()).
#pragma once

#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define ORVANE_SSE2 1
#include <emmintrin.h>
#else
#define ORVANE_SSE2 0
#endif

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ORVANE_AVX2_DISPATCH 1
#define ORVANE_TARGET_AVX2 __attribute__((target("avx2")))
#define ORVANE_TARGET_AVX512 __attribute__((target("avx512f,bmi2")))
#include <immintrin.h>
#else
#define ORVANE_AVX2_DISPATCH 0
#endif

namespace orvane {

// Index of the lowest set bit; v must not be 0.
inline int32_t countTrailingZeros(uint32_t v) { return __builtin_ctz(v); }
inline int32_t countTrailingZeros(uint64_t v) { return __builtin_ctzll(v); }

// Number of set bits.
inline int32_t populationCount(uint64_t v) { return __builtin_popcountll(v); }

// Whether (s * multiplier) >> 16, the 16-bit multiply-high of the vector
// units, equals s / divisor for every s from 0 to largestSum: the check
// behind each reciprocal used in place of a division.
constexpr bool multiplyHighDivides(uint32_t divisor, uint32_t multiplier, uint32_t largestSum) {
    for (uint32_t s = 0; s <= largestSum; ++s)
        if (((s * multiplier) >> 16) != s / divisor) return false;
    return true;
}

#if ORVANE_AVX2_DISPATCH
inline bool cpuHasAvx2() { return __builtin_cpu_supports("avx2"); }
// What ORVANE_TARGET_AVX512 needs.
inline bool cpuHasAvx512() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("bmi2"); }
#endif

}  // namespace orvane
