// Noise removal of the two-level ridge image. The tests compare it with
// reference::removeBinaryNoise (tests/enhance/reference.cpp).
#include <cstring>

#include "core/parameters.h"
#include "core/simd.h"
#include "enhance/enhance.h"

namespace orvane {

namespace {

// judgeRow from x = 1 while 16 pixels fit, each flip recorded in flipped;
// returns the pixel where the plain loop takes over.
int32_t judgeRowVector(const uint8_t* __restrict above, const uint8_t* __restrict row,
                       const uint8_t* __restrict below, const uint8_t* __restrict mask, uint8_t* __restrict out,
                       int32_t width, uint8_t& flipped);

// One row of a pass, pixels 1..width-2. A pixel outside the foreground is
// not judged; its output byte is 255, which is what scratchPlane already
// holds there from the single fill. Returns whether any pixel flipped.
bool judgeRow(const uint8_t* __restrict above, const uint8_t* __restrict row, const uint8_t* __restrict below,
              const uint8_t* __restrict mask, uint8_t* __restrict out, int32_t width) {
    uint8_t flipped = 0;
    for (int32_t x = judgeRowVector(above, row, below, mask, out, width, flipped); x < width - 1; ++x) {
        const uint8_t v = row[x];
        const uint8_t like = static_cast<uint8_t>((above[x - 1] == v) + (above[x] == v) + (above[x + 1] == v) +
                                                  (row[x - 1] == v) + (row[x + 1] == v) + (below[x - 1] == v) +
                                                  (below[x] == v) + (below[x + 1] == v));
        const uint8_t judged = mask[x] != 255;
        const uint8_t flip = static_cast<uint8_t>(judged & (like < 2));
        const uint8_t value = flip ? static_cast<uint8_t>(255 - v) : v;
        out[x] = judged ? value : 255;
        flipped |= flip;
    }
    return flipped != 0;
}

#if ORVANE_SSE2
// Sixteen pixels per step: each like neighbour subtracts -1 from the count;
// 255 - v is v with every bit flipped.
int32_t judgeRowVector(const uint8_t* __restrict above, const uint8_t* __restrict row,
                       const uint8_t* __restrict below, const uint8_t* __restrict mask, uint8_t* __restrict out,
                       int32_t width, uint8_t& flipped) {
    const __m128i background = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i one = _mm_set1_epi8(1);
    uint32_t flippedLanes = 0;
    int32_t x = 1;
    for (; x + 16 <= width - 1; x += 16) {
        auto at = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
        const __m128i v = at(row + x);
        __m128i like = _mm_setzero_si128();
        like = _mm_sub_epi8(like, _mm_cmpeq_epi8(at(above + x - 1), v));
        like = _mm_sub_epi8(like, _mm_cmpeq_epi8(at(above + x), v));
        like = _mm_sub_epi8(like, _mm_cmpeq_epi8(at(above + x + 1), v));
        like = _mm_sub_epi8(like, _mm_cmpeq_epi8(at(row + x - 1), v));
        like = _mm_sub_epi8(like, _mm_cmpeq_epi8(at(row + x + 1), v));
        like = _mm_sub_epi8(like, _mm_cmpeq_epi8(at(below + x - 1), v));
        like = _mm_sub_epi8(like, _mm_cmpeq_epi8(at(below + x), v));
        like = _mm_sub_epi8(like, _mm_cmpeq_epi8(at(below + x + 1), v));
        const __m128i unjudged = _mm_cmpeq_epi8(at(mask + x), background);
        const __m128i fewLike = _mm_cmpeq_epi8(_mm_min_epu8(like, one), like);  // like <= 1
        const __m128i flip = _mm_andnot_si128(unjudged, fewLike);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(_mm_xor_si128(v, flip), unjudged));
        flippedLanes |= static_cast<uint32_t>(_mm_movemask_epi8(flip));
    }
    flipped = flippedLanes != 0;
    return x;
}
#else
int32_t judgeRowVector(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, int32_t, uint8_t&) {
    return 1;
}
#endif

}  // namespace

// From the third pass on, a row whose own pixels and neighbour rows saw no
// flip in the previous pass is judged exactly as before: its pixels would not
// flip and scratchPlane already holds its output, so it is skipped and not
// copied. (The first pass also whitens unjudged pixels without flipping
// them, hence the full second pass.)
void removeBinaryNoise(Workspace& ws) {
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    if (width < 1 || height < 1 || width > kMaxWidth || height > kMaxHeight) return;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    uint8_t* image = ws.imagePlane;
    uint8_t* out = ws.scratchPlane;
    const uint8_t* mask = ws.maskPlane;
    // Pixels that are never judged (outer ring, background) stay 255 in
    // scratchPlane through every pass.
    std::memset(out, 255, count);
    bool flippedBefore[kMaxHeight + 1] = {};
    bool flippedNow[kMaxHeight + 1] = {};
    for (int pass = 1;; ++pass) {
        bool changed = false;
        const bool everyRow = pass <= 2;
        for (int32_t y = 1; y < height - 1; ++y) {
            flippedNow[y] = false;
            if (!everyRow && !flippedBefore[y - 1] && !flippedBefore[y] && !flippedBefore[y + 1]) continue;
            const uint8_t* row = image + y * width;
            flippedNow[y] = judgeRow(row - width, row, row + width, mask + y * width, out + y * width, width);
            changed |= flippedNow[y];
        }
        if (everyRow) {
            std::memcpy(image, out, count);
        } else {
            for (int32_t y = 1; y < height - 1; ++y) {
                if (flippedBefore[y - 1] || flippedBefore[y] || flippedBefore[y + 1])
                    std::memcpy(image + y * width, out + y * width, static_cast<size_t>(width));
            }
        }
        if (!changed || pass >= kNoisePasses) break;
        std::memcpy(flippedBefore, flippedNow, sizeof flippedBefore);
    }
}

}  // namespace orvane
