// Foreground segmentation and masking. The tests compare them with
// reference::segmentForeground and reference::applyMask
// (tests/enhance/reference.cpp).
#include <cstring>

#include "core/parameters.h"
#include "core/simd.h"
#include "enhance/enhance.h"

namespace orvane {

namespace {

// The mask of one row from x = 1 while 16 pixels fit, the foreground pixels
// counted in foreground; returns the pixel where the plain loop takes over.
#if ORVANE_SSE2
// Means are bytes: a threshold of 0 or less takes every pixel, one above 255
// none (both left to the plain loop); otherwise mean >= threshold is
// max(mean, t) == mean.
int32_t maskRowVector(const uint8_t* in, uint8_t* out, int32_t width, int32_t threshold, int32_t& foreground) {
    int32_t x = 1;
    if (threshold < 1 || threshold > 255) return x;
    const __m128i t = _mm_set1_epi8(static_cast<char>(threshold));
    const __m128i one = _mm_set1_epi8(1);
    __m128i counts = _mm_setzero_si128();  // two 64-bit lane totals
    for (; x + 16 <= width - 1; x += 16) {
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        const __m128i isForeground = _mm_cmpeq_epi8(_mm_max_epu8(m, t), m);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_xor_si128(isForeground, _mm_set1_epi8(static_cast<char>(0xFF))));
        counts = _mm_add_epi64(counts, _mm_sad_epu8(_mm_and_si128(isForeground, one), _mm_setzero_si128()));
    }
    foreground += _mm_cvtsi128_si32(counts) + _mm_cvtsi128_si32(_mm_srli_si128(counts, 8));
    return x;
}
#else
int32_t maskRowVector(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t&) { return 1; }
#endif

}  // namespace

StageResult segmentForeground(Workspace& ws, int32_t radius, int32_t threshold) {
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    if (width < 1 || height < 1 || width > kMaxWidth || height > kMaxHeight) return kStageFailed;
    uint8_t* mask = ws.maskPlane;
    const uint8_t* mean = ws.scratchPlane;
    boxMean(ws, mask, ws.scratchPlane, radius, 2);

    for (int32_t y = 0; y < height; ++y) {
        mask[y * width] = 255;
        mask[y * width + width - 1] = 255;
    }
    std::memset(mask, 255, static_cast<size_t>(width));
    std::memset(mask + (height - 1) * width, 255, static_cast<size_t>(width));

    int32_t foreground = 0;
    for (int32_t y = 1; y < height - 1; ++y) {
        const uint8_t* in = mean + y * width;
        uint8_t* out = mask + y * width;
        int32_t x = maskRowVector(in, out, width, threshold, foreground);
        for (; x < width - 1; ++x) {
            const bool isForeground = in[x] >= threshold;
            out[x] = isForeground ? 0 : 255;
            foreground += isForeground;
        }
    }
    return foreground < ws.pixelCount / kForegroundShareDivisor ? kStageFailed : kStageCompleted;
}

void applyMask(Workspace& ws) {
    const int32_t count = ws.pixelCount;
    if (count < 1 || count > kPlaneSize) return;
    const uint8_t* mask = ws.maskPlane;
    uint8_t* image = ws.imagePlane;
    uint8_t* codes = ws.orientationPlane;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t background = mask[i] == 255 ? 255 : 0;
        image[i] |= background;
        codes[i] |= background;
    }
}

}  // namespace orvane
