// Orientation and gradient-strength field from the half-resolution image.
// The tests compare it with reference::computeOrientationField
// (tests/enhance/reference.cpp), which sums every window afresh.
#include <cmath>
#include <cstring>

#include "core/simd.h"
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

// The three sums of a window: M = sum(|gx| + |gy|), K = sum(gx^2 - gy^2),
// L = sum(2 gx gy). M stays below 2040 * 238 * 318 < 2^31; K and L need 64
// bits for windows past the callers' radius 6.
struct WindowSums {
    int32_t m = 0;
    int64_t k = 0, l = 0;
};

// The same three sums per column p over the rows of the window, kept as
// three arrays for the vector unit. A column's K and L fit 32 bits, and so
// does the difference of two columns.
struct ColumnSums {
    int32_t m[kMaxHalfWidth], k[kMaxHalfWidth], l[kMaxHalfWidth];

    void addTo(WindowSums& sums, int32_t p) const {
        sums.m += m[p];
        sums.k += k[p];
        sums.l += l[p];
    }
    void subtractFrom(WindowSums& sums, int32_t p) const {
        sums.m -= m[p];
        sums.k -= k[p];
        sums.l -= l[p];
    }
    // Column entering comes in, column leaving goes out.
    void slide(WindowSums& sums, int32_t entering, int32_t leaving) const {
        sums.m += m[entering] - m[leaving];
        sums.k += k[entering] - k[leaving];
        sums.l += l[entering] - l[leaving];
    }
};

// The window sums of every sample of one half row.
struct WindowRow {
    int32_t m[kMaxHalfWidth];
    int64_t k[kMaxHalfWidth], l[kMaxHalfWidth];

    void store(int32_t u, const WindowSums& sums) {
        m[u] = sums.m;
        k[u] = sums.k;
        l[u] = sums.l;
    }
};

// The field's working memory, in the workspace rather than on the stack.
struct OrientationBuffers {
    GradientRow ring[kGradientRing];
    GradientRow spare;
    ColumnSums columns;
    WindowRow windows;
    uint8_t strengths[kMaxHalfWidth], codes[kMaxHalfWidth];
    int32_t columnCounts[kMaxHalfWidth];  // in-image window columns of every u
    uint64_t reciprocals[kMaxReciprocalCount + 1];
    uint64_t reciprocalOfColumns[kMaxHalfWidth + 1];
};

// The geometry of the sample grid and window: samples 1 <= p <= lastColumn,
// 1 <= q <= lastRow; radius -1 is the empty window.
struct FieldShape {
    int32_t halfWidth, halfHeight;
    int32_t lastColumn, lastRow;
    int32_t radius;
};

// --- Gradient rows ---

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

// Adds (sign 1) or removes (sign -1) the products of the gradient row at
// columns first..last.
void addRowPlain(const GradientRow& g, int32_t first, int32_t last, int32_t sign, ColumnSums& columns) {
    for (int32_t p = first; p <= last; ++p) {
        const int32_t gx = g.gx[p];
        const int32_t gy = g.gy[p];
        const int32_t m = (gx < 0 ? -gx : gx) + (gy < 0 ? -gy : gy);
        const int32_t k = gx * gx - gy * gy;
        const int32_t l = 2 * gx * gy;
        columns.m[p] += sign * m;
        columns.k[p] += sign * k;
        columns.l[p] += sign * l;
    }
}

#if ORVANE_SSE2
// addRowPlain eight columns at a time from column 1, while whole groups of
// eight fit; returns the first column left for the plain loop. The products
// |gx| + |gy| (at most 2040), gx^2 - gy^2 and 2 gx gy come from 16-bit
// lanes and pairwise multiply-adds, all exact in 32 bits.
int32_t addRowVector(const GradientRow& g, int32_t halfWidth, bool adding, ColumnSums& columns) {
    const __m128i zero = _mm_setzero_si128();
    int32_t p = 1;
    for (; p + 8 <= halfWidth - 1; p += 8) {
        const __m128i gx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.gx + p));
        const __m128i gy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.gy + p));
        const __m128i m =
            _mm_add_epi16(_mm_max_epi16(gx, _mm_sub_epi16(zero, gx)), _mm_max_epi16(gy, _mm_sub_epi16(zero, gy)));
        const __m128i negativeGy = _mm_sub_epi16(zero, gy);
        const __m128i pairsLow = _mm_unpacklo_epi16(gx, gy), pairsHigh = _mm_unpackhi_epi16(gx, gy);
        const __m128i values[3][2] = {
            {_mm_unpacklo_epi16(m, zero), _mm_unpackhi_epi16(m, zero)},
            {_mm_madd_epi16(pairsLow, _mm_unpacklo_epi16(gx, negativeGy)),
             _mm_madd_epi16(pairsHigh, _mm_unpackhi_epi16(gx, negativeGy))},
            {_mm_madd_epi16(pairsLow, _mm_unpacklo_epi16(gy, gx)),
             _mm_madd_epi16(pairsHigh, _mm_unpackhi_epi16(gy, gx))}};
        int32_t* const targets[3] = {columns.m, columns.k, columns.l};
        for (int i = 0; i < 3; ++i) {
            for (int half = 0; half < 2; ++half) {
                __m128i* at = reinterpret_cast<__m128i*>(targets[i] + p + 4 * half);
                const __m128i current = _mm_loadu_si128(at);
                _mm_storeu_si128(at, adding ? _mm_add_epi32(current, values[i][half])
                                            : _mm_sub_epi32(current, values[i][half]));
            }
        }
    }
    return p;
}
#else
int32_t addRowVector(const GradientRow&, int32_t, bool, ColumnSums&) { return 1; }
#endif

void addRow(const GradientRow& g, int32_t halfWidth, int32_t sign, ColumnSums& columns) {
    addRowPlain(g, addRowVector(g, halfWidth, sign > 0, columns), halfWidth - 2, sign, columns);
}

// The column sums over the rows of the current window: each gradient row is
// evaluated once when it enters and, while the ring holds the window, taken
// from the ring when it leaves.
class GradientWindow {
public:
    GradientWindow(const uint8_t* half, const FieldShape& shape, OrientationBuffers& buffers)
        : half_(half), shape_(shape), buffers_(buffers),
          ringHoldsWindow_(2 * shape.radius + 2 <= kGradientRing) {
        std::memset(&buffers.columns, 0, sizeof buffers.columns);
        if (shape.radius < 0) return;
        for (int32_t q = 0; q <= shape.radius && q <= shape.lastRow; ++q) enter(q);
    }

    // From the window of half row v - 1 to that of v.
    void advanceTo(int32_t v) {
        if (shape_.radius < 0) return;
        leave(v - 1 - shape_.radius);
        enter(v + shape_.radius);
    }

private:
    void enter(int32_t q) {
        if (q < 1 || q > shape_.lastRow) return;
        GradientRow& g = buffers_.ring[q % kGradientRing];
        sobelRow(half_, shape_.halfWidth, q, g);
        addRow(g, shape_.halfWidth, 1, buffers_.columns);
    }
    void leave(int32_t q) {
        if (q < 1 || q > shape_.lastRow) return;
        if (ringHoldsWindow_) {
            addRow(buffers_.ring[q % kGradientRing], shape_.halfWidth, -1, buffers_.columns);
        } else {
            sobelRow(half_, shape_.halfWidth, q, buffers_.spare);
            addRow(buffers_.spare, shape_.halfWidth, -1, buffers_.columns);
        }
    }

    const uint8_t* half_;
    const FieldShape& shape_;
    OrientationBuffers& buffers_;
    bool ringHoldsWindow_;
};

// --- Window sums ---

// The window sums of every u of the row from the column sums: a running sum
// along the row. The sums of the whole row come first, then strengths and
// codes, so that the loops stay short and the divisions independent.
void windowSumsOfRow(const ColumnSums& columns, const FieldShape& shape, WindowRow& out) {
    const int32_t radius = shape.radius;
    const int32_t lastColumn = shape.lastColumn;
    const int32_t halfWidth = shape.halfWidth;
    WindowSums sums;
    if (radius < 0) {
        for (int32_t u = 0; u < halfWidth; ++u) out.store(u, sums);
        return;
    }
    for (int32_t p = 1; p <= radius && p <= lastColumn; ++p) columns.addTo(sums, p);
    out.store(0, sums);
    // Near the ends a column may be missing on either side; between them
    // one leaves and one enters at every step.
    auto slideAtEnd = [&](int32_t u) {
        const int32_t leaving = u - 1 - radius;
        const int32_t entering = u + radius;
        if (leaving >= 1 && leaving <= lastColumn) columns.subtractFrom(sums, leaving);
        if (entering >= 1 && entering <= lastColumn) columns.addTo(sums, entering);
        out.store(u, sums);
    };
    const int32_t innerBegin = radius + 2;
    const int32_t innerEnd = lastColumn - radius + 1 < halfWidth ? lastColumn - radius + 1 : halfWidth;
    int32_t u = 1;
    for (; u < halfWidth && u < innerBegin; ++u) slideAtEnd(u);
    for (; u < innerEnd; ++u) {
        columns.slide(sums, u + radius, u - 1 - radius);
        out.store(u, sums);
    }
    for (; u < halfWidth; ++u) slideAtEnd(u);
}

// --- Encoding ---

// The divisors of the mean strength: in-image window columns of every u, and
// M / n as (M * m) >> 32 for the counts that occur up to kMaxReciprocalCount
// (larger counts divide in double).
class StrengthDivisors {
public:
    StrengthDivisors(const FieldShape& shape, OrientationBuffers& buffers) : buffers_(buffers) {
        const int32_t radius = shape.radius;
        for (int32_t u = 0; u < shape.halfWidth; ++u) {
            const int32_t columnFirst = u - radius < 1 ? 1 : u - radius;
            const int32_t columnLast = u + radius > shape.lastColumn ? shape.lastColumn : u + radius;
            buffers.columnCounts[u] = columnFirst <= columnLast ? columnLast - columnFirst + 1 : 0;
            if (buffers.columnCounts[u] > widest_) widest_ = buffers.columnCounts[u];
        }
        const int32_t tallest =
            radius < 0 ? 0 : (2 * radius + 1 < shape.lastRow ? 2 * radius + 1 : shape.lastRow);
        const int32_t largestCount = widest_ * (tallest > 0 ? tallest : 0);
        tabledCount_ = largestCount < kMaxReciprocalCount ? largestCount : kMaxReciprocalCount;
        buffers.reciprocals[0] = 0;
        for (int32_t n = 1; n <= tabledCount_; ++n)
            buffers.reciprocals[n] = (uint64_t{1} << 32) / static_cast<uint64_t>(n) + 1;
    }

    // Strengths (mean M, at most 255) and codes of one row whose window
    // spans rowCount rows. An empty window has M = 0 and any factor gives 0.
    void encodeRow(const WindowRow& windows, int32_t halfWidth, int32_t rowCount, uint8_t* strengths,
                   uint8_t* codes) const {
        const OrientationCoder& coder = orientationCoder();
        const uint64_t* const reciprocals = buffers_.reciprocals;
        const int32_t* const columnCounts = buffers_.columnCounts;
        // The reciprocal of each column count times this row count.
        const bool rowTabled = widest_ * rowCount <= tabledCount_;
        uint64_t* const reciprocalOfColumns = buffers_.reciprocalOfColumns;
        if (rowTabled) {
            for (int32_t c = 0; c <= widest_; ++c) reciprocalOfColumns[c] = reciprocals[c * rowCount];
        }
        for (int32_t u = 0; u < halfWidth; ++u) {
            const uint64_t m = static_cast<uint64_t>(windows.m[u]);
            int32_t strength;
            if (rowTabled) {
                strength = static_cast<int32_t>((m * reciprocalOfColumns[columnCounts[u]]) >> 32);
            } else {
                int32_t n = columnCounts[u] * rowCount;
                if (n == 0) n = 1;
                if (n <= tabledCount_) {
                    strength = static_cast<int32_t>((m * reciprocals[n]) >> 32);
                } else {
                    // The floor of M / n, exact in double for integers below 2^31.
                    strength = static_cast<int32_t>(static_cast<double>(windows.m[u]) / static_cast<double>(n));
                }
            }
            strengths[u] = static_cast<uint8_t>(strength > 255 ? 255 : strength);
            codes[u] = static_cast<uint8_t>(coder.code(windows.k[u], windows.l[u]));
        }
    }

private:
    OrientationBuffers& buffers_;
    int32_t widest_ = 0;
    int32_t tabledCount_ = 0;
};

// Each value of half row v covers a 2 x 2 block of the plane.
void writeBlocks(const uint8_t* values, int32_t halfWidth, int32_t v, uint8_t* plane, int32_t width) {
    uint8_t* top = plane + 2 * v * width;
    for (int32_t u = 0; u < halfWidth; ++u) {
        top[2 * u] = values[u];
        top[2 * u + 1] = values[u];
    }
    std::memcpy(top + width, top, static_cast<size_t>(2 * halfWidth));
}

// The 2 x 2 blocks miss the last column (row) of an odd width (height): it
// is set to 0, so that nothing stale from an earlier image remains.
void clearUncoveredEdges(uint8_t* plane, int32_t width, int32_t height) {
    if (width % 2 != 0) {
        for (int32_t y = 0; y < height; ++y) plane[y * width + width - 1] = 0;
    }
    if (height % 2 != 0) std::memset(plane + (height - 1) * width, 0, static_cast<size_t>(width));
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
    clearUncoveredEdges(strengthPlane, width, height);
    clearUncoveredEdges(codePlane, width, height);

    FieldShape shape;
    shape.halfWidth = width / 2;
    shape.halfHeight = height / 2;
    if (shape.halfWidth < 1 || shape.halfHeight < 1) return;
    shape.lastColumn = shape.halfWidth - 2;
    shape.lastRow = shape.halfHeight - 2;
    if (radius < 0) radius = -1;                                      // an empty window
    if (radius > kMaxHalfWidth + 1) radius = kMaxHalfWidth + 1;  // the same as any larger one
    shape.radius = radius;

    OrientationBuffers& buffers = stageBuffers<OrientationBuffers>(ws);
    const StrengthDivisors divisors(shape, buffers);
    GradientWindow gradients(ws.scratchPlane, shape, buffers);
    for (int32_t v = 0; v < shape.halfHeight; ++v) {
        if (v > 0) gradients.advanceTo(v);
        const int32_t rowFirst = v - radius < 1 ? 1 : v - radius;
        const int32_t rowLast = v + radius > shape.lastRow ? shape.lastRow : v + radius;
        const int32_t rowCount = rowFirst <= rowLast ? rowLast - rowFirst + 1 : 0;
        windowSumsOfRow(buffers.columns, shape, buffers.windows);
        divisors.encodeRow(buffers.windows, shape.halfWidth, rowCount, buffers.strengths, buffers.codes);
        writeBlocks(buffers.strengths, shape.halfWidth, v, strengthPlane, width);
        writeBlocks(buffers.codes, shape.halfWidth, v, codePlane, width);
    }
}

}  // namespace orvane
