// Directional ridge filtering and binarization along the DirectionLineTable.
// The tests compare them with reference::filterAlongRidges and
// reference::binarizeRidges (tests/enhance/reference.cpp).
#include <cstring>
#include <utility>

#include "core/parameters.h"
#include "core/simd.h"
#include "enhance/direction_lines.h"
#include "enhance/enhance.h"

namespace orvane {

namespace {

// Pixels at least this far from every edge have their whole line inside.
constexpr int32_t kLineReach = 3;

struct DirectionLookup {
    uint8_t along[256];
    uint8_t across[256];
    constexpr DirectionLookup() : along(), across() {
        for (int32_t code = 0; code < 256; ++code) {
            along[code] = static_cast<uint8_t>(directionIndex(code));
            across[code] = static_cast<uint8_t>(acrossIndex(directionIndex(code)));
        }
    }
};
constexpr DirectionLookup kDirections{};

// Byte offsets of the 12 lines for the current row length.
struct LineOffsets {
    int32_t offset[12][7];
    explicit LineOffsets(int32_t width) {
        for (int32_t k = 0; k < 12; ++k)
            for (int32_t i = 0; i < 7; ++i)
                offset[k][i] = DirectionLineTable[k][i][1] * width + DirectionLineTable[k][i][0];
    }
};

// Weighted line mean with the points outside the image skipped and the
// weights of the points used as divisor.
int32_t clippedLineMean(const uint8_t* plane, int32_t width, int32_t height, int32_t x, int32_t y, int32_t k,
                        const int32_t* weights) {
    int32_t sum = 0;
    int32_t weight = 0;
    for (int32_t i = 0; i < 7; ++i) {
        const int32_t px = x + DirectionLineTable[k][i][0];
        const int32_t py = y + DirectionLineTable[k][i][1];
        if (px < 0 || px >= width || py < 0 || py >= height) continue;
        sum += weights[i] * plane[py * width + px];
        weight += weights[i];
    }
    return sum / weight;
}

// The points of every line that lie inside the image for one class of edge
// pixels: those of one column near the left or right edge (any row away from
// the top and bottom), or of one row near the top or bottom (any column away
// from the sides). Offsets are bytes from the pixel.
struct ClippedLines {
    int32_t count[12];
    int32_t offset[12][7];
    int32_t weight[12][7];
    int32_t total[12];

    // x (y) negative: the column (row) is not tested.
    void clip(const int32_t* weights, int32_t width, int32_t height, int32_t x, int32_t y) {
        for (int32_t k = 0; k < 12; ++k) {
            count[k] = 0;
            total[k] = 0;
            for (int32_t i = 0; i < 7; ++i) {
                const int32_t dx = DirectionLineTable[k][i][0];
                const int32_t dy = DirectionLineTable[k][i][1];
                if (x >= 0 && (x + dx < 0 || x + dx >= width)) continue;
                if (y >= 0 && (y + dy < 0 || y + dy >= height)) continue;
                offset[k][count[k]] = dy * width + dx;
                weight[k][count[k]] = weights[i];
                total[k] += weights[i];
                ++count[k];
            }
        }
    }

    int32_t mean(const uint8_t* plane, int32_t i, int32_t k) const {
        int32_t sum = 0;
        for (int32_t j = 0; j < count[k]; ++j) sum += weight[k][j] * plane[i + offset[k][j]];
        return sum / total[k];
    }
};

// Line means of one weight set at the pixels within kLineReach of an edge:
// the clipped lines of the six edge columns are made once, those of an edge
// row when the scan reaches it; pixels near two edges (and every pixel of an
// image too small for an interior) test each point.
class EdgeLineMeans {
public:
    EdgeLineMeans(const int32_t* weights, int32_t width, int32_t height)
        : weights_(weights), width_(width), height_(height),
          classes_(width > 2 * kLineReach && height > 2 * kLineReach) {
        if (!classes_) return;
        for (int32_t c = 0; c < kLineReach; ++c) {
            columns_[c].clip(weights, width, height, c, -1);
            columns_[kLineReach + c].clip(weights, width, height, width - kLineReach + c, -1);
        }
    }

    int32_t mean(const uint8_t* plane, int32_t x, int32_t y, int32_t k) {
        const bool nearSide = x < kLineReach || x >= width_ - kLineReach;
        const bool nearEnd = y < kLineReach || y >= height_ - kLineReach;
        const int32_t i = y * width_ + x;
        if (!classes_ || (nearSide && nearEnd)) return clippedLineMean(plane, width_, height_, x, y, k, weights_);
        if (nearSide) return columns_[x < kLineReach ? x : x - (width_ - 2 * kLineReach)].mean(plane, i, k);
        if (rowOfLines_ != y) {
            row_.clip(weights_, width_, height_, -1, y);
            rowOfLines_ = y;
        }
        return row_.mean(plane, i, k);
    }

private:
    const int32_t* weights_;
    int32_t width_, height_;
    bool classes_;
    ClippedLines columns_[2 * kLineReach];
    ClippedLines row_;
    int32_t rowOfLines_ = -1;
};

uint8_t clampByte(int32_t value) { return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value)); }

// Calls border(x, y) for every pixel within kLineReach of an edge and
// inner(rowStart, x0, x1, y) for each row's interior span [x0, x1).
template <typename Border, typename Inner>
void visitPixels(int32_t width, int32_t height, Border border, Inner inner) {
    const bool hasInterior = width > 2 * kLineReach && height > 2 * kLineReach;
    for (int32_t y = 0; y < height; ++y) {
        if (!hasInterior || y < kLineReach || y >= height - kLineReach) {
            for (int32_t x = 0; x < width; ++x) border(x, y);
            continue;
        }
        for (int32_t x = 0; x < kLineReach; ++x) border(x, y);
        inner(y, kLineReach, width - kLineReach);
        for (int32_t x = width - kLineReach; x < width; ++x) border(x, y);
    }
}

// Splits [begin, end) into runs of pixels whose codes select the same table
// row, and calls run(k, runBegin, runEnd) for each.
template <typename Run>
void forEachRun(const uint8_t* codes, const uint8_t* rowOfCode, int32_t begin, int32_t end, Run run) {
    while (begin < end) {
        const uint8_t k = rowOfCode[codes[begin]];
        int32_t next = begin + 1;
        while (next < end && rowOfCode[codes[next]] == k) ++next;
        run(k, begin, next);
        begin = next;
    }
}

bool validSize(const Workspace& ws) {
    return ws.width >= 1 && ws.height >= 1 && ws.width <= kMaxWidth && ws.height <= kMaxHeight;
}

// What the interior kernels know of a weight table at compile time: the
// divisor, the range of the sums, and the multiplier of the vector quotient.
template <const int32_t* kWeights>
struct LineKernel {
    static constexpr int32_t sumOf(bool positive) {
        int32_t sum = 0;
        for (int32_t j = 0; j < 7; ++j)
            if ((kWeights[j] > 0) == positive) sum += kWeights[j];
        return sum;
    }
    static constexpr int32_t total = sumOf(true) + sumOf(false);
    static constexpr int32_t largestSum = 255 * sumOf(true);
    static constexpr int32_t smallestSum = 255 * sumOf(false);
    static constexpr bool mayBeNegative = smallestSum < 0;
    // ceil(2^16 / total), exact for every sum up to largestSum (checked).
    static constexpr uint16_t reciprocal = static_cast<uint16_t>(((1 << 16) + total - 1) / total);
    static_assert(total > 0 && largestSum <= 32767 && smallestSum >= -32768, "the sums fit 16-bit lanes");
    static_assert(multiplyHighDivides(static_cast<uint32_t>(total), reciprocal, static_cast<uint32_t>(largestSum)),
                  "the multiply-high quotient must be exact");
};

// The weighted line mean at interior pixel i (every point inside the image),
// truncated towards zero.
template <const int32_t* kWeights>
inline int32_t lineMeanAt(const uint8_t* source, const int32_t* o, int32_t i) {
    int32_t sum = 0;
    for (int32_t j = 0; j < 7; ++j) sum += kWeights[j] * source[i + o[j]];
    return sum / LineKernel<kWeights>::total;
}

// The interior kernels: a run of pixels that share one table row, every
// point of every line inside the image. Source and destination are distinct
// planes.
void meanAlongRun(const uint8_t* __restrict source, uint8_t* __restrict destination, const int32_t* o,
                  int32_t begin, int32_t end) {
    for (int32_t i = begin; i < end; ++i)
        destination[i] = static_cast<uint8_t>(lineMeanAt<kFilterAlongWeights>(source, o, i));
}

void sharpenAcrossRun(const uint8_t* __restrict source, uint8_t* __restrict destination, const int32_t* o,
                      int32_t begin, int32_t end) {
    for (int32_t i = begin; i < end; ++i) destination[i] = clampByte(lineMeanAt<kFilterAcrossWeights>(source, o, i));
}

void binarizeRun(const uint8_t* __restrict source, uint8_t* __restrict destination, const int32_t* a,
                 const int32_t* c, int32_t begin, int32_t end) {
    for (int32_t i = begin; i < end; ++i) {
        const int32_t along = lineMeanAt<kBinarizeAlongWeights>(source, a, i);
        const int32_t across = lineMeanAt<kBinarizeAcrossWeights>(source, c, i);
        const bool ridge = (source[i] < kRidgeDarkLevel) | (along < across);
        destination[i] = static_cast<uint8_t>(ridge ? 0 : 255);
    }
}

// The interior spans of the three filters sixteen pixels at a time, where a
// span holds at least sixteen; false leaves the span to the runs above.
bool meanAlongVector(const uint8_t* source, uint8_t* destination, const uint8_t* codes, const LineOffsets& lines,
                     int32_t begin, int32_t end);
bool sharpenAcrossVector(const uint8_t* source, uint8_t* destination, const uint8_t* codes,
                         const LineOffsets& lines, int32_t begin, int32_t end);
bool binarizeVector(const uint8_t* source, uint8_t* destination, const uint8_t* codes, const LineOffsets& lines,
                    int32_t begin, int32_t end);

#if ORVANE_SSE2
// The line offsets differ from pixel to pixel, so a block of 16 is computed
// once for each table row that occurs in it and the lanes of that row are
// kept; most blocks hold one or two rows. Divisions by the weight sums use
// the 16-bit multiply-high of LineKernel.
constexpr int32_t kBlock = 16;

inline __m128i loadBlock(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The 16 bytes at p widened to two vectors of 16-bit lanes.
struct Widened {
    __m128i low, high;
};
inline Widened widen(const uint8_t* p) {
    const __m128i bytes = loadBlock(p);
    const __m128i zero = _mm_setzero_si128();
    return {_mm_unpacklo_epi8(bytes, zero), _mm_unpackhi_epi8(bytes, zero)};
}
inline Widened add(Widened a, Widened b) { return {_mm_add_epi16(a.low, b.low), _mm_add_epi16(a.high, b.high)}; }
inline Widened times(Widened a, int16_t f) {
    const __m128i factor = _mm_set1_epi16(f);
    return {_mm_mullo_epi16(a.low, factor), _mm_mullo_epi16(a.high, factor)};
}
inline Widened quotient(Widened a, uint16_t m) {
    const __m128i factor = _mm_set1_epi16(static_cast<int16_t>(m));
    return {_mm_mulhi_epu16(a.low, factor), _mm_mulhi_epu16(a.high, factor)};
}
inline __m128i packBytes(Widened a) { return _mm_packus_epi16(a.low, a.high); }

inline Widened sub(Widened a, Widened b) { return {_mm_sub_epi16(a.low, b.low), _mm_sub_epi16(a.high, b.high)}; }

constexpr int32_t magnitude(int32_t weight) { return weight < 0 ? -weight : weight; }

constexpr bool firstOfItsMagnitude(const int32_t* weights, size_t j) {
    for (size_t i = 0; i < j; ++i)
        if (magnitude(weights[i]) == magnitude(weights[j])) return false;
    return true;
}

// Point i of the line at p + o; the centre is p itself.
template <size_t kI>
inline Widened linePoint(const uint8_t* p, const int32_t* o) {
    return widen(kI == kLineCentre ? p : p + o[kI]);
}

// The points of the line whose weight has the magnitude of point kJ's,
// added where the weight is positive and subtracted where it is negative.
template <const int32_t* kWeights, size_t kJ, size_t... kI>
inline Widened pointsWeightedAs(const uint8_t* p, const int32_t* o, std::index_sequence<kI...>) {
    const Widened zero{_mm_setzero_si128(), _mm_setzero_si128()};
    Widened positive = zero, negative = zero;
    ((magnitude(kWeights[kI]) == magnitude(kWeights[kJ])
          ? (void)(kWeights[kI] > 0 ? (positive = add(positive, linePoint<kI>(p, o)))
                                    : (negative = add(negative, linePoint<kI>(p, o))))
          : (void)0),
     ...);
    return sub(positive, negative);
}

// The weighted sum in 16-bit lanes, exact modulo 2^16 and so exact within
// the kernel's range: one multiplication per distinct weight magnitude.
template <const int32_t* kWeights, size_t... kJ>
inline Widened weightedSum(const uint8_t* p, const int32_t* o, std::index_sequence<kJ...> points) {
    Widened sum{_mm_setzero_si128(), _mm_setzero_si128()};
    ((firstOfItsMagnitude(kWeights, kJ)
          ? (void)(sum = add(sum, times(pointsWeightedAs<kWeights, kJ>(p, o, points),
                                        static_cast<int16_t>(magnitude(kWeights[kJ])))))
          : (void)0),
     ...);
    return sum;
}

// lineMeanAt for the 16 pixels at p. A negative sum truncates to a mean of 0
// or below and is clamped to 0 either way, so it is set to 0 first (the
// quotient is unsigned).
template <const int32_t* kWeights>
inline Widened lineMeanBlock(const uint8_t* p, const int32_t* o) {
    using Kernel = LineKernel<kWeights>;
    Widened sum = weightedSum<kWeights>(p, o, std::make_index_sequence<7>{});
    if (Kernel::mayBeNegative) {
        const __m128i zero = _mm_setzero_si128();
        sum = {_mm_max_epi16(sum.low, zero), _mm_max_epi16(sum.high, zero)};
    }
    return quotient(sum, Kernel::reciprocal);
}

// 0 (ridge) where the centre is below kRidgeDarkLevel or the weighted mean along the
// ridge is below the mean across it, else 255.
inline __m128i binarizeBlock(const uint8_t* p, const int32_t* a, const int32_t* c) {
    const Widened along = lineMeanBlock<kBinarizeAlongWeights>(p, a);
    const Widened across = lineMeanBlock<kBinarizeAcrossWeights>(p, c);
    const __m128i lower =
        _mm_packs_epi16(_mm_cmplt_epi16(along.low, across.low), _mm_cmplt_epi16(along.high, across.high));
    const __m128i dark = _mm_cmpeq_epi8(_mm_min_epu8(loadBlock(p), _mm_set1_epi8(kRidgeDarkLevel - 1)), loadBlock(p));
    return _mm_andnot_si128(_mm_or_si128(lower, dark), _mm_set1_epi8(static_cast<char>(0xFF)));
}

// directionIndex of the 16 codes at codes, with the quotient by
// multiply-high.
constexpr uint16_t kCodesPerLineReciprocal = ((1 << 16) + kCodesPerLine - 1) / kCodesPerLine;
static_assert(multiplyHighDivides(kCodesPerLine, kCodesPerLineReciprocal, kLastLinedCode - kFirstLinedCode),
              "the quotient of the table rows must be exact");

inline __m128i tableRowsOf(const uint8_t* codes) {
    // Codes below kFirstLinedCode wrap past the last one.
    const __m128i shifted = _mm_sub_epi8(loadBlock(codes), _mm_set1_epi8(kFirstLinedCode));
    const __m128i lined = _mm_cmpeq_epi8(
        _mm_min_epu8(shifted, _mm_set1_epi8(static_cast<char>(kLastLinedCode - kFirstLinedCode))), shifted);
    const __m128i zero = _mm_setzero_si128();
    const __m128i factor = _mm_set1_epi16(static_cast<int16_t>(kCodesPerLineReciprocal));
    const __m128i quotients = _mm_packus_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(shifted, zero), factor),
                                               _mm_mulhi_epu16(_mm_unpackhi_epi8(shifted, zero), factor));
    return _mm_and_si128(lined, _mm_add_epi8(quotients, _mm_set1_epi8(1)));
}

// Writes destination[begin..end) block by block, the table rows taken from
// codes; false when the span is shorter than a block. The last block is
// moved back to end at end, recomputing a few pixels.
template <typename Block>
bool blocksOfRow(const uint8_t* codes, uint8_t* destination, int32_t begin, int32_t end, Block block) {
    if (end - begin < kBlock) return false;
    for (int32_t at = begin;; at += kBlock) {
        if (at + kBlock > end) at = end - kBlock;
        alignas(16) uint8_t rows[kBlock];
        const __m128i ks = tableRowsOf(codes + at);
        _mm_store_si128(reinterpret_cast<__m128i*>(rows), ks);
        __m128i same = _mm_cmpeq_epi8(ks, _mm_set1_epi8(static_cast<char>(rows[0])));
        uint32_t pending = static_cast<uint32_t>(_mm_movemask_epi8(same)) ^ 0xFFFFu;
        __m128i result = block(rows[0], at);
        if (pending != 0) {
            result = _mm_and_si128(result, same);
            do {
                const uint8_t k = rows[countTrailingZeros(pending)];
                same = _mm_cmpeq_epi8(ks, _mm_set1_epi8(static_cast<char>(k)));
                result = _mm_or_si128(result, _mm_and_si128(same, block(k, at)));
                pending &= ~static_cast<uint32_t>(_mm_movemask_epi8(same));
            } while (pending != 0);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + at), result);
        if (at + kBlock >= end) return true;
    }
}

bool meanAlongVector(const uint8_t* source, uint8_t* destination, const uint8_t* codes, const LineOffsets& lines,
                     int32_t begin, int32_t end) {
    return blocksOfRow(codes, destination, begin, end, [&](int32_t k, int32_t i) {
        return packBytes(lineMeanBlock<kFilterAlongWeights>(source + i, lines.offset[k]));
    });
}

bool sharpenAcrossVector(const uint8_t* source, uint8_t* destination, const uint8_t* codes,
                         const LineOffsets& lines, int32_t begin, int32_t end) {
    // The unsigned packing clamps at 255.
    return blocksOfRow(codes, destination, begin, end, [&](int32_t k, int32_t i) {
        return packBytes(lineMeanBlock<kFilterAcrossWeights>(source + i, lines.offset[acrossIndex(k)]));
    });
}

bool binarizeVector(const uint8_t* source, uint8_t* destination, const uint8_t* codes, const LineOffsets& lines,
                    int32_t begin, int32_t end) {
    return blocksOfRow(codes, destination, begin, end, [&](int32_t k, int32_t i) {
        return binarizeBlock(source + i, lines.offset[k], lines.offset[acrossIndex(k)]);
    });
}
#else
bool meanAlongVector(const uint8_t*, uint8_t*, const uint8_t*, const LineOffsets&, int32_t, int32_t) { return false; }
bool sharpenAcrossVector(const uint8_t*, uint8_t*, const uint8_t*, const LineOffsets&, int32_t, int32_t) {
    return false;
}
bool binarizeVector(const uint8_t*, uint8_t*, const uint8_t*, const LineOffsets&, int32_t, int32_t) { return false; }
#endif

}  // namespace

void filterAlongRidges(Workspace& ws) {
    if (!validSize(ws)) return;
    const int32_t width = ws.width;
    const LineOffsets lines(width);
    EdgeLineMeans alongEdges(kFilterAlongWeights, width, ws.height);
    EdgeLineMeans acrossEdges(kFilterAcrossWeights, width, ws.height);
    uint8_t* image = ws.imagePlane;
    uint8_t* smooth = ws.scratchPlane;
    const uint8_t* codes = ws.orientationPlane;

    // Along the ridge: plain 7-point mean of imagePlane into scratchPlane.
    visitPixels(
        width, ws.height,
        [&](int32_t x, int32_t y) {
            const int32_t i = y * width + x;
            smooth[i] = static_cast<uint8_t>(
                alongEdges.mean(image, x, y, kDirections.along[codes[i]]));
        },
        [&](int32_t y, int32_t x0, int32_t x1) {
            if (meanAlongVector(image, smooth, codes, lines, y * width + x0, y * width + x1)) return;
            forEachRun(codes, kDirections.along, y * width + x0, y * width + x1,
                       [&](int32_t k, int32_t begin, int32_t end) {
                           meanAlongRun(image, smooth, lines.offset[k], begin, end);
                       });
        });

    // Across the ridge: sharpening of scratchPlane back into imagePlane.
    visitPixels(
        width, ws.height,
        [&](int32_t x, int32_t y) {
            const int32_t i = y * width + x;
            image[i] = clampByte(acrossEdges.mean(smooth, x, y, kDirections.across[codes[i]]));
        },
        [&](int32_t y, int32_t x0, int32_t x1) {
            if (sharpenAcrossVector(smooth, image, codes, lines, y * width + x0, y * width + x1)) return;
            forEachRun(codes, kDirections.across, y * width + x0, y * width + x1,
                       [&](int32_t k, int32_t begin, int32_t end) {
                           sharpenAcrossRun(smooth, image, lines.offset[k], begin, end);
                       });
        });
}

void binarizeRidges(Workspace& ws) {
    if (!validSize(ws)) return;
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    const LineOffsets lines(width);
    EdgeLineMeans alongEdges(kBinarizeAlongWeights, width, height);
    EdgeLineMeans acrossEdges(kBinarizeAcrossWeights, width, height);
    const uint8_t* image = ws.imagePlane;
    uint8_t* ridges = ws.scratchPlane;
    const uint8_t* codes = ws.orientationPlane;

    visitPixels(
        width, height,
        [&](int32_t x, int32_t y) {
            const int32_t i = y * width + x;
            if (image[i] < kRidgeDarkLevel) {
                ridges[i] = 0;
                return;
            }
            const uint8_t code = codes[i];
            const int32_t along = alongEdges.mean(image, x, y, kDirections.along[code]);
            const int32_t across = acrossEdges.mean(image, x, y, kDirections.across[code]);
            ridges[i] = along < across ? 0 : 255;
        },
        [&](int32_t y, int32_t x0, int32_t x1) {
            if (binarizeVector(image, ridges, codes, lines, y * width + x0, y * width + x1)) return;
            forEachRun(codes, kDirections.along, y * width + x0, y * width + x1,
                       [&](int32_t k, int32_t begin, int32_t end) {
                           binarizeRun(image, ridges, lines.offset[k], lines.offset[acrossIndex(k)], begin, end);
                       });
        });
    std::memcpy(ws.imagePlane, ridges, static_cast<size_t>(width) * static_cast<size_t>(height));
}

}  // namespace orvane
