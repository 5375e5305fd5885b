// Finding the ridge pixels (exactly 0) of a row quickly.
#pragma once

#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#endif

namespace orvane {

// Bit i set when row[i] is 0, for i below count (at most 64).
inline uint64_t zeroBits(const uint8_t* row, int32_t count) {
    uint64_t bits = 0;
    int32_t i = 0;
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        bits |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)))) << i;
    }
#endif
    for (; i < count; ++i) bits |= static_cast<uint64_t>(row[i] == 0) << i;
    return bits;
}

}  // namespace orvane
