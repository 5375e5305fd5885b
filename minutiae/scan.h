// Finding the ridge pixels (exactly 0) of a row quickly. The tests compare
// the stages that use it with their plain versions in
// tests/minutiae/reference.cpp.
#pragma once

#include <cstdint>

#include "core/simd.h"

namespace orvane {

// zeroBits sixteen pixels at a time while they fit; returns the count of
// pixels done.
#if ORVANE_SSE2
inline int32_t zeroBitsVector(const uint8_t* row, int32_t count, uint64_t& bits) {
    const __m128i zero = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        bits |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)))) << i;
    }
    return i;
}
#else
inline int32_t zeroBitsVector(const uint8_t*, int32_t, uint64_t&) { return 0; }
#endif

// Bit i set when row[i] is 0, for i below count (at most 64).
inline uint64_t zeroBits(const uint8_t* row, int32_t count) {
    uint64_t bits = 0;
    for (int32_t i = zeroBitsVector(row, count, bits); i < count; ++i) bits |= static_cast<uint64_t>(row[i] == 0) << i;
    return bits;
}

}  // namespace orvane
