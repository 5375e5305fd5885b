// Orientation and gradient-strength field from the half-resolution image.
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "enhance/enhance.h"
#include "enhance/orientation_code.h"

namespace orvane {

namespace {

constexpr int32_t kMaxHalfWidth = kMaxWidth / 2;
// Gradient rows kept for the running window: enough for every radius up to
// (kGradientRing - 2) / 2; larger windows evaluate a leaving row again.
constexpr int32_t kGradientRing = 64;

// Exact quotients by reciprocal: with m = floor(2^32 / n) + 1 the product
// M * m / 2^32 exceeds M / n by less than M / 2^32, and M <= 2040 n (the
// largest |gx| + |gy| per sample), so the excess stays below 1 / n, under
// the gap to the next integer, while 2040 n * n < 2^32, i.e. n <= 1450.
constexpr int32_t kMaxReciprocalCount = 1024;

struct GradientRow {
    int16_t gx[kMaxHalfWidth];
    int16_t gy[kMaxHalfWidth];
};

// The field's working memory, in the workspace rather than on the stack.
struct OrientationBuffers {
    GradientRow ring[kGradientRing];
    GradientRow spare;
    int32_t columnM[kMaxHalfWidth], columnK[kMaxHalfWidth], columnL[kMaxHalfWidth];
    int32_t windowM[kMaxHalfWidth];
    int64_t windowK[kMaxHalfWidth], windowL[kMaxHalfWidth];
    uint8_t strengths[kMaxHalfWidth], codes[kMaxHalfWidth];
    int32_t columnCounts[kMaxHalfWidth];  // in-image window columns of every u
    uint64_t reciprocals[kMaxReciprocalCount + 1];
    uint64_t reciprocalOfColumns[kMaxHalfWidth + 1];
};

// Sobel gradients of half row q at the sample columns 1..halfWidth-2.
void sobelRow(const uint8_t* half, int32_t halfWidth, int32_t q, GradientRow& out) {
    const uint8_t* above = half + (q - 1) * halfWidth;
    const uint8_t* row = above + halfWidth;
    const uint8_t* below = row + halfWidth;
    for (int32_t p = 1; p <= halfWidth - 2; ++p) {
        const int32_t gx =
            (above[p + 1] + 2 * row[p + 1] + below[p + 1]) - (above[p - 1] + 2 * row[p - 1] + below[p - 1]);
        const int32_t gy = (below[p - 1] + 2 * below[p] + below[p + 1]) - (above[p - 1] + 2 * above[p] + above[p + 1]);
        out.gx[p] = static_cast<int16_t>(gx);
        out.gy[p] = static_cast<int16_t>(gy);
    }
}

#if defined(__SSE2__)
// Eight columns of products: |gx| + |gy| (at most 2040), and gx^2 - gy^2 and
// 2 gx gy as pairwise 16-bit multiply-adds, all exact in 32 bits.
inline void addProducts8(const GradientRow& g, int32_t p, bool adding, int32_t* columnM, int32_t* columnK,
                         int32_t* columnL) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i gx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.gx + p));
    const __m128i gy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.gy + p));
    const __m128i m = _mm_add_epi16(_mm_max_epi16(gx, _mm_sub_epi16(zero, gx)), _mm_max_epi16(gy, _mm_sub_epi16(zero, gy)));
    const __m128i negativeGy = _mm_sub_epi16(zero, gy);
    const __m128i pairsLow = _mm_unpacklo_epi16(gx, gy), pairsHigh = _mm_unpackhi_epi16(gx, gy);
    const __m128i values[3][2] = {
        {_mm_unpacklo_epi16(m, zero), _mm_unpackhi_epi16(m, zero)},
        {_mm_madd_epi16(pairsLow, _mm_unpacklo_epi16(gx, negativeGy)),
         _mm_madd_epi16(pairsHigh, _mm_unpackhi_epi16(gx, negativeGy))},
        {_mm_madd_epi16(pairsLow, _mm_unpacklo_epi16(gy, gx)), _mm_madd_epi16(pairsHigh, _mm_unpackhi_epi16(gy, gx))}};
    int32_t* const columns[3] = {columnM, columnK, columnL};
    for (int i = 0; i < 3; ++i) {
        for (int half = 0; half < 2; ++half) {
            __m128i* at = reinterpret_cast<__m128i*>(columns[i] + p + 4 * half);
            const __m128i current = _mm_loadu_si128(at);
            _mm_storeu_si128(at, adding ? _mm_add_epi32(current, values[i][half])
                                        : _mm_sub_epi32(current, values[i][half]));
        }
    }
}
#endif

void addRow(const GradientRow& g, int32_t halfWidth, int32_t sign, int32_t* columnM, int32_t* columnK,
            int32_t* columnL) {
    int32_t first = 1;
#if defined(__SSE2__)
    for (; first + 8 <= halfWidth - 1; first += 8) addProducts8(g, first, sign > 0, columnM, columnK, columnL);
#endif
    for (int32_t p = first; p <= halfWidth - 2; ++p) {
        const int32_t gx = g.gx[p];
        const int32_t gy = g.gy[p];
        const int32_t m = (gx < 0 ? -gx : gx) + (gy < 0 ? -gy : gy);
        const int32_t k = gx * gx - gy * gy;
        const int32_t l = 2 * gx * gy;
        columnM[p] += sign * m;
        columnK[p] += sign * k;
        columnL[p] += sign * l;
    }
}

}  // namespace

// Each gradient is evaluated once: the window sums come from running column
// sums over the rows of the window, then a running sum along the row.
void computeOrientationField(Workspace& ws, int32_t radius) {
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    if (width < 1 || height < 1 || width > kMaxWidth || height > kMaxHeight) return;
    uint8_t* strengthPlane = ws.maskPlane;
    uint8_t* codePlane = ws.orientationPlane;

    // The 2 x 2 blocks miss the last column (row) of an odd width (height):
    // it is set to 0, so that nothing stale from an earlier image remains.
    if (width % 2 != 0) {
        for (int32_t y = 0; y < height; ++y) {
            strengthPlane[y * width + width - 1] = 0;
            codePlane[y * width + width - 1] = 0;
        }
    }
    if (height % 2 != 0) {
        std::memset(strengthPlane + (height - 1) * width, 0, static_cast<size_t>(width));
        std::memset(codePlane + (height - 1) * width, 0, static_cast<size_t>(width));
    }

    const int32_t halfWidth = width / 2;
    const int32_t halfHeight = height / 2;
    if (halfWidth < 1 || halfHeight < 1) return;
    const uint8_t* half = ws.scratchPlane;
    // Samples: 1 <= p <= halfWidth - 2, 1 <= q <= halfHeight - 2.
    const int32_t lastColumn = halfWidth - 2;
    const int32_t lastRow = halfHeight - 2;
    if (radius < 0) radius = -1;  // an empty window
    if (radius > kMaxHalfWidth + 1) radius = kMaxHalfWidth + 1;  // the same as any larger one

    const OrientationCoder& coder = orientationCoder();
    OrientationBuffers& buffers = stageBuffers<OrientationBuffers>(ws);
    GradientRow* const ring = buffers.ring;
    GradientRow& spare = buffers.spare;
    const bool ringHoldsWindow = 2 * radius + 2 <= kGradientRing;
    int32_t* const columnM = buffers.columnM;
    int32_t* const columnK = buffers.columnK;
    int32_t* const columnL = buffers.columnL;
    std::memset(columnM, 0, sizeof buffers.columnM);
    std::memset(columnK, 0, sizeof buffers.columnK);
    std::memset(columnL, 0, sizeof buffers.columnL);
    int32_t* const windowM = buffers.windowM;
    int64_t* const windowK = buffers.windowK;
    int64_t* const windowL = buffers.windowL;
    uint8_t* const strengths = buffers.strengths;
    uint8_t* const codes = buffers.codes;
    int32_t* const columnCounts = buffers.columnCounts;
    int32_t widest = 0;
    for (int32_t u = 0; u < halfWidth; ++u) {
        const int32_t columnFirst = u - radius < 1 ? 1 : u - radius;
        const int32_t columnLast = u + radius > lastColumn ? lastColumn : u + radius;
        columnCounts[u] = columnFirst <= columnLast ? columnLast - columnFirst + 1 : 0;
        if (columnCounts[u] > widest) widest = columnCounts[u];
    }
    // M / n as (M * m) >> 32 for the counts that occur, up to
    // kMaxReciprocalCount; larger counts divide in double.
    const int32_t tallest = radius < 0 ? 0 : (2 * radius + 1 < lastRow ? 2 * radius + 1 : lastRow);
    const int32_t largestCount = widest * (tallest > 0 ? tallest : 0);
    const int32_t tabledCount = largestCount < kMaxReciprocalCount ? largestCount : kMaxReciprocalCount;
    uint64_t* const reciprocals = buffers.reciprocals;
    reciprocals[0] = 0;
    for (int32_t n = 1; n <= tabledCount; ++n) reciprocals[n] = (uint64_t{1} << 32) / static_cast<uint64_t>(n) + 1;

    auto enter = [&](int32_t q) {
        if (q < 1 || q > lastRow) return;
        GradientRow& g = ring[q % kGradientRing];
        sobelRow(half, halfWidth, q, g);
        addRow(g, halfWidth, 1, columnM, columnK, columnL);
    };
    auto leave = [&](int32_t q) {
        if (q < 1 || q > lastRow) return;
        if (ringHoldsWindow) {
            addRow(ring[q % kGradientRing], halfWidth, -1, columnM, columnK, columnL);
        } else {
            sobelRow(half, halfWidth, q, spare);
            addRow(spare, halfWidth, -1, columnM, columnK, columnL);
        }
    };

    if (radius >= 0) {
        for (int32_t q = 0; q <= radius && q <= lastRow; ++q) enter(q);
    }
    for (int32_t v = 0; v < halfHeight; ++v) {
        if (v > 0 && radius >= 0) {
            leave(v - 1 - radius);
            enter(v + radius);
        }
        int32_t rowFirst = v - radius < 1 ? 1 : v - radius;
        int32_t rowLast = v + radius > lastRow ? lastRow : v + radius;
        const int32_t rowCount = rowFirst <= rowLast ? rowLast - rowFirst + 1 : 0;

        // M stays below 2040 * 238 * 318 < 2^31; K and L need 64 bits for
        // windows past the callers' radius 6.
        int32_t sumM = 0;
        int64_t sumK = 0, sumL = 0;
        if (radius >= 0) {
            for (int32_t p = 1; p <= radius && p <= lastColumn; ++p) {
                sumM += columnM[p];
                sumK += columnK[p];
                sumL += columnL[p];
            }
        }
        // The window sums of the whole row first, then strengths and codes:
        // the loops stay short and the divisions independent.
        auto slide = [&](int32_t u) {
            const int32_t leaving = u - 1 - radius;
            const int32_t entering = u + radius;
            if (leaving >= 1 && leaving <= lastColumn) {
                sumM -= columnM[leaving];
                sumK -= columnK[leaving];
                sumL -= columnL[leaving];
            }
            if (entering >= 1 && entering <= lastColumn) {
                sumM += columnM[entering];
                sumK += columnK[entering];
                sumL += columnL[entering];
            }
        };
        windowM[0] = sumM;
        windowK[0] = sumK;
        windowL[0] = sumL;
        if (radius >= 0) {
            // Between the edges a column leaves and one enters at every step.
            const int32_t innerBegin = radius + 2;
            const int32_t innerEnd = lastColumn - radius + 1 < halfWidth ? lastColumn - radius + 1 : halfWidth;
            int32_t u = 1;
            for (; u < halfWidth && u < innerBegin; ++u) {
                slide(u);
                windowM[u] = sumM;
                windowK[u] = sumK;
                windowL[u] = sumL;
            }
            for (; u < innerEnd; ++u) {
                sumM += columnM[u + radius] - columnM[u - 1 - radius];
                sumK += columnK[u + radius] - columnK[u - 1 - radius];
                sumL += columnL[u + radius] - columnL[u - 1 - radius];
                windowM[u] = sumM;
                windowK[u] = sumK;
                windowL[u] = sumL;
            }
            for (; u < halfWidth; ++u) {
                slide(u);
                windowM[u] = sumM;
                windowK[u] = sumK;
                windowL[u] = sumL;
            }
        } else {
            for (int32_t u = 1; u < halfWidth; ++u) {
                windowM[u] = sumM;
                windowK[u] = sumK;
                windowL[u] = sumL;
            }
        }
        // The reciprocal of each column count times this row count; an empty
        // window has M = 0 and any factor gives 0.
        const bool rowTabled = widest * rowCount <= tabledCount;
        uint64_t* const reciprocalOfColumns = buffers.reciprocalOfColumns;
        if (rowTabled) {
            for (int32_t c = 0; c <= widest; ++c) reciprocalOfColumns[c] = reciprocals[c * rowCount];
        }
        for (int32_t u = 0; u < halfWidth; ++u) {
            int32_t strength;
            if (rowTabled) {
                strength = static_cast<int32_t>((static_cast<uint64_t>(windowM[u]) *
                                                 reciprocalOfColumns[columnCounts[u]]) >> 32);
            } else {
                int32_t n = columnCounts[u] * rowCount;
                if (n == 0) n = 1;
                if (n <= tabledCount) {
                    strength = static_cast<int32_t>((static_cast<uint64_t>(windowM[u]) * reciprocals[n]) >> 32);
                } else {
                    // The floor of M / n, exact in double for integers below 2^31.
                    strength = static_cast<int32_t>(static_cast<double>(windowM[u]) / static_cast<double>(n));
                }
            }
            strengths[u] = static_cast<uint8_t>(strength > 255 ? 255 : strength);
            codes[u] = static_cast<uint8_t>(coder.code(windowK[u], windowL[u]));
        }
        // Each value covers a 2 x 2 block of the image.
        uint8_t* strengthTop = strengthPlane + 2 * v * width;
        uint8_t* codeTop = codePlane + 2 * v * width;
        for (int32_t u = 0; u < halfWidth; ++u) {
            strengthTop[2 * u] = strengths[u];
            strengthTop[2 * u + 1] = strengths[u];
            codeTop[2 * u] = codes[u];
            codeTop[2 * u + 1] = codes[u];
        }
        std::memcpy(strengthTop + width, strengthTop, static_cast<size_t>(2 * halfWidth));
        std::memcpy(codeTop + width, codeTop, static_cast<size_t>(2 * halfWidth));
    }
}

}  // namespace orvane
