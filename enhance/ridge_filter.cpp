// Directional ridge filtering and binarization along the DirectionLineTable.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/parameters.h"
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
            const int32_t k = code >= 8 && code <= 172 ? (code - 8) / 15 + 1 : 0;
            along[code] = static_cast<uint8_t>(k);
            across[code] = static_cast<uint8_t>((k + 6) % 12);
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

// The interior kernels: a run of pixels that share one table row, every
// point of every line inside the image. Source and destination are distinct
// planes.
void meanAlongRun(const uint8_t* __restrict source, uint8_t* __restrict destination, const int32_t* o,
                  int32_t begin, int32_t end) {
    const uint8_t* p0 = source + o[0];
    const uint8_t* p1 = source + o[1];
    const uint8_t* p2 = source + o[2];
    const uint8_t* p3 = source + o[3];
    const uint8_t* p4 = source + o[4];
    const uint8_t* p5 = source + o[5];
    const uint8_t* p6 = source + o[6];
    for (int32_t i = begin; i < end; ++i) {
        const uint16_t sum = static_cast<uint16_t>(p0[i] + p1[i] + p2[i] + p3[i] + p4[i] + p5[i] + p6[i]);
        destination[i] = static_cast<uint8_t>(sum / 7);
    }
}

void sharpenAcrossRun(const uint8_t* __restrict source, uint8_t* __restrict destination, const int32_t* o,
                      int32_t begin, int32_t end) {
    const uint8_t* p0 = source + o[0];
    const uint8_t* p1 = source + o[1];
    const uint8_t* p2 = source + o[2];
    const uint8_t* p3 = source + o[3];
    const uint8_t* p4 = source + o[4];
    const uint8_t* p5 = source + o[5];
    const uint8_t* p6 = source + o[6];
    for (int32_t i = begin; i < end; ++i) {
        // -3 -1 3 9 3 -1 -3, within -2040..3825.
        const int16_t sum = static_cast<int16_t>(3 * (p2[i] + p4[i] - p0[i] - p6[i]) + 9 * p3[i] - p1[i] - p5[i]);
        int16_t mean = static_cast<int16_t>(sum / 7);
        mean = mean < 0 ? 0 : mean;
        mean = mean > 255 ? 255 : mean;
        destination[i] = static_cast<uint8_t>(mean);
    }
}

void binarizeRun(const uint8_t* __restrict source, uint8_t* __restrict destination, const int32_t* a,
                 const int32_t* c, int32_t begin, int32_t end) {
    const uint8_t* a0 = source + a[0];
    const uint8_t* a1 = source + a[1];
    const uint8_t* a2 = source + a[2];
    const uint8_t* a4 = source + a[4];
    const uint8_t* a5 = source + a[5];
    const uint8_t* a6 = source + a[6];
    const uint8_t* c0 = source + c[0];
    const uint8_t* c1 = source + c[1];
    const uint8_t* c2 = source + c[2];
    const uint8_t* c4 = source + c[4];
    const uint8_t* c5 = source + c[5];
    const uint8_t* c6 = source + c[6];
    for (int32_t i = begin; i < end; ++i) {
        const uint8_t centre = source[i];
        const uint16_t along =
            static_cast<uint16_t>((2 * (a0[i] + a1[i] + a5[i] + a6[i]) + 3 * (a2[i] + a4[i]) + 4 * centre) / 18);
        const uint16_t across = static_cast<uint16_t>((c0[i] + c1[i] + c2[i] + centre + c4[i] + c5[i] + c6[i]) / 7);
        const bool ridge = (centre < kRidgeDarkLevel) | (along < across);
        destination[i] = static_cast<uint8_t>(ridge ? 0 : 255);
    }
}

#if defined(__SSE2__)
// Sixteen pixels at a time. The line offsets differ from pixel to pixel, so
// a block of 16 is computed once for each table row that occurs in it and
// the lanes of that row are kept; most blocks hold one or two rows.
//
// Divisions by the weight sums use a 16-bit multiply-high: with
// m = ceil(2^16 / d), (s * m) >> 16 equals s / d for 0 <= s <= limit
// (checked at compile time).
constexpr bool multiplyHighDivides(uint32_t d, uint32_t m, uint32_t limit) {
    for (uint32_t s = 0; s <= limit; ++s)
        if (((s * m) >> 16) != s / d) return false;
    return true;
}
constexpr uint16_t kSeventh = 9363;     // ceil(2^16 / 7)
constexpr uint16_t kEighteenth = 3641;  // ceil(2^16 / 18)
// The sharpening sum reaches 9 * 255 + 6 * 255 = 3825 before the clamp.
static_assert(multiplyHighDivides(7, kSeventh, 3825), "sevenths must be exact");
static_assert(multiplyHighDivides(18, kEighteenth, 18 * 255), "eighteenths must be exact");

constexpr int32_t kBlock = 16;

inline __m128i loadBlock(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The 16 bytes at source + i + o widened to two vectors of 16-bit lanes.
struct Widened {
    __m128i low, high;
};
inline Widened widen(const uint8_t* p) {
    const __m128i bytes = loadBlock(p);
    const __m128i zero = _mm_setzero_si128();
    return {_mm_unpacklo_epi8(bytes, zero), _mm_unpackhi_epi8(bytes, zero)};
}
inline Widened add(Widened a, Widened b) { return {_mm_add_epi16(a.low, b.low), _mm_add_epi16(a.high, b.high)}; }
inline Widened sub(Widened a, Widened b) { return {_mm_sub_epi16(a.low, b.low), _mm_sub_epi16(a.high, b.high)}; }
inline Widened times(Widened a, int16_t f) {
    const __m128i factor = _mm_set1_epi16(f);
    return {_mm_mullo_epi16(a.low, factor), _mm_mullo_epi16(a.high, factor)};
}
inline Widened quotient(Widened a, uint16_t m) {
    const __m128i factor = _mm_set1_epi16(static_cast<int16_t>(m));
    return {_mm_mulhi_epu16(a.low, factor), _mm_mulhi_epu16(a.high, factor)};
}
inline __m128i packBytes(Widened a) { return _mm_packus_epi16(a.low, a.high); }

// Plain 7-point sum along the offsets o around source + i.
inline Widened lineSum(const uint8_t* source, const int32_t* o, int32_t i) {
    const uint8_t* p = source + i;
    return add(add(add(widen(p + o[0]), widen(p + o[1])), add(widen(p + o[2]), widen(p + o[3]))),
               add(add(widen(p + o[4]), widen(p + o[5])), widen(p + o[6])));
}

inline __m128i meanAlongBlock(const uint8_t* source, const int32_t* o, int32_t i) {
    return packBytes(quotient(lineSum(source, o, i), kSeventh));
}

// -3 -1 3 9 3 -1 -3: a negative sum truncates to a mean of 0 or below and is
// clamped to 0 either way, so it is set to 0 first; the unsigned packing
// clamps at 255.
inline __m128i sharpenAcrossBlock(const uint8_t* source, const int32_t* o, int32_t i) {
    const uint8_t* p = source + i;
    const Widened outer = sub(add(widen(p + o[2]), widen(p + o[4])), add(widen(p + o[0]), widen(p + o[6])));
    const Widened sum = sub(add(times(outer, 3), times(widen(p + o[3]), 9)), add(widen(p + o[1]), widen(p + o[5])));
    const __m128i zero = _mm_setzero_si128();
    const Widened positive{_mm_max_epi16(sum.low, zero), _mm_max_epi16(sum.high, zero)};
    return packBytes(quotient(positive, kSeventh));
}

// 0 (ridge) where the centre is below kRidgeDarkLevel or the weighted mean
// along the ridge is below the plain mean across it, else 255.
inline __m128i binarizeBlock(const uint8_t* source, const int32_t* a, const int32_t* c, int32_t i) {
    const uint8_t* p = source + i;
    const Widened centre = widen(p);
    const Widened twos = add(add(widen(p + a[0]), widen(p + a[1])), add(widen(p + a[5]), widen(p + a[6])));
    const Widened threes = add(widen(p + a[2]), widen(p + a[4]));
    const Widened along =
        quotient(add(add(times(twos, 2), times(threes, 3)), times(centre, 4)), kEighteenth);
    const Widened acrossSum = add(add(add(widen(p + c[0]), widen(p + c[1])), add(widen(p + c[2]), centre)),
                                  add(add(widen(p + c[4]), widen(p + c[5])), widen(p + c[6])));
    const Widened across = quotient(acrossSum, kSeventh);
    const __m128i lower =
        _mm_packs_epi16(_mm_cmplt_epi16(along.low, across.low), _mm_cmplt_epi16(along.high, across.high));
    const __m128i dark = _mm_cmpeq_epi8(_mm_min_epu8(loadBlock(p), _mm_set1_epi8(kRidgeDarkLevel - 1)), loadBlock(p));
    return _mm_andnot_si128(_mm_or_si128(lower, dark), _mm_set1_epi8(static_cast<char>(0xFF)));
}

// The table rows of the 16 codes at codes: (code - 8) / 15 + 1 for codes 8
// to 172, else 0, with the quotient by multiply-high.
constexpr uint16_t kFifteenth = 4370;  // ceil(2^16 / 15)
static_assert(multiplyHighDivides(15, kFifteenth, 172 - 8), "fifteenths must be exact");

inline __m128i tableRowsOf(const uint8_t* codes) {
    const __m128i shifted = _mm_sub_epi8(loadBlock(codes), _mm_set1_epi8(8));  // codes below 8 wrap past 164
    const __m128i tabled = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(static_cast<char>(172 - 8))), shifted);
    const __m128i zero = _mm_setzero_si128();
    const __m128i factor = _mm_set1_epi16(static_cast<int16_t>(kFifteenth));
    const __m128i quotients = _mm_packus_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(shifted, zero), factor),
                                               _mm_mulhi_epu16(_mm_unpackhi_epi8(shifted, zero), factor));
    return _mm_and_si128(tabled, _mm_add_epi8(quotients, _mm_set1_epi8(1)));
}

// Writes destination[begin..end) (end - begin >= 16) block by block, the
// table rows taken from codes. The last block is moved back to end at end,
// recomputing a few pixels.
template <typename Block>
void blocksOfRow(const uint8_t* codes, uint8_t* destination, int32_t begin, int32_t end, Block block) {
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
                const uint8_t k = rows[__builtin_ctz(pending)];
                same = _mm_cmpeq_epi8(ks, _mm_set1_epi8(static_cast<char>(k)));
                result = _mm_or_si128(result, _mm_and_si128(same, block(k, at)));
                pending &= ~static_cast<uint32_t>(_mm_movemask_epi8(same));
            } while (pending != 0);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + at), result);
        if (at + kBlock >= end) return;
    }
}
#endif

}  // namespace

void filterAlongRidges(Workspace& ws) {
    if (!validSize(ws)) return;
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    uint8_t* image = ws.imagePlane;
    uint8_t* smooth = ws.scratchPlane;
    const uint8_t* codes = ws.orientationPlane;
    const LineOffsets lines(width);
    EdgeLineMeans alongEdges(kFilterAlongWeights, width, height);
    EdgeLineMeans acrossEdges(kFilterAcrossWeights, width, height);

    // Along the ridge: plain 7-point mean of imagePlane into scratchPlane.
    visitPixels(
        width, height,
        [&](int32_t x, int32_t y) {
            const int32_t i = y * width + x;
            smooth[i] = static_cast<uint8_t>(
                alongEdges.mean(image, x, y, kDirections.along[codes[i]]));
        },
        [&](int32_t y, int32_t x0, int32_t x1) {
#if defined(__SSE2__)
            if (x1 - x0 >= kBlock) {
                blocksOfRow(codes, smooth, y * width + x0, y * width + x1,
                            [&](int32_t k, int32_t i) { return meanAlongBlock(image, lines.offset[k], i); });
                return;
            }
#endif
            forEachRun(codes, kDirections.along, y * width + x0, y * width + x1,
                       [&](int32_t k, int32_t begin, int32_t end) {
                           meanAlongRun(image, smooth, lines.offset[k], begin, end);
                       });
        });

    // Across the ridge: sharpening of scratchPlane back into imagePlane.
    visitPixels(
        width, height,
        [&](int32_t x, int32_t y) {
            const int32_t i = y * width + x;
            image[i] = clampByte(acrossEdges.mean(smooth, x, y, kDirections.across[codes[i]]));
        },
        [&](int32_t y, int32_t x0, int32_t x1) {
#if defined(__SSE2__)
            if (x1 - x0 >= kBlock) {
                blocksOfRow(codes, image, y * width + x0, y * width + x1, [&](int32_t k, int32_t i) {
                    return sharpenAcrossBlock(smooth, lines.offset[acrossIndex(k)], i);
                });
                return;
            }
#endif
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
    const uint8_t* image = ws.imagePlane;
    uint8_t* ridges = ws.scratchPlane;
    const uint8_t* codes = ws.orientationPlane;
    const LineOffsets lines(width);
    EdgeLineMeans alongEdges(kBinarizeAlongWeights, width, height);
    EdgeLineMeans acrossEdges(kBinarizeAcrossWeights, width, height);

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
#if defined(__SSE2__)
            if (x1 - x0 >= kBlock) {
                blocksOfRow(codes, ridges, y * width + x0, y * width + x1, [&](int32_t k, int32_t i) {
                    return binarizeBlock(image, lines.offset[k], lines.offset[acrossIndex(k)], i);
                });
                return;
            }
#endif
            forEachRun(codes, kDirections.along, y * width + x0, y * width + x1,
                       [&](int32_t k, int32_t begin, int32_t end) {
                           binarizeRun(image, ridges, lines.offset[k], lines.offset[acrossIndex(k)], begin, end);
                       });
        });
    std::memcpy(ws.imagePlane, ridges, static_cast<size_t>(width) * static_cast<size_t>(height));
}

}  // namespace orvane
