// Box mean and half-resolution reduction. The tests compare them with
// reference::boxMean, reference::halveImage and reference::smoothAndHalve
// (tests/enhance/reference.cpp). Each vector function does the part of a row
// it can and returns where the plain loop beside it takes over; builds
// without SSE2 do nothing in it.
#include <cstring>

#include "core/simd.h"
#include "enhance/enhance.h"

namespace orvane {

namespace {

// First and last in-image position of the window centre + (-r, -r + step, ...,
// r) over [0, size - 1], and the number of them (0 when none is inside).
struct WindowSpan {
    int32_t first;
    int32_t last;
    int32_t count;
};

WindowSpan windowSpan(int32_t centre, int32_t radius, int32_t step, int32_t size) {
    int32_t first = centre - radius;
    if (first < 0) first += (-first + step - 1) / step * step;
    int32_t last = centre + radius;
    if (last > size - 1) last -= (last - (size - 1) + step - 1) / step * step;
    WindowSpan span{first, last, 0};
    if (first <= last) span.count = (last - first) / step + 1;
    return span;
}

// Exact division of a window sum by its number of samples through
// reciprocals: with m = ceil(2^23 / d), (s * m) >> 23 equals s / d for every
// s <= 255 d as long as 255 d (d - 1) < 2^23, i.e. d <= kMaxTabledCount, and
// s * m stays below 2^31.
constexpr int32_t kMaxTabledCount = 181;
constexpr int32_t kReciprocalShift = 23;

// The box mean's working memory, in the workspace rather than on the stack.
struct BoxMeanBuffers {
    int32_t columnSums[2][kMaxWidth];  // one set per row parity
    int32_t prefix[kMaxWidth];
    WindowSpan columnSpans[kMaxWidth];
    uint32_t reciprocal[kMaxTabledCount + 1];
};

uint32_t reciprocalOf(int32_t d) {
    const uint32_t divisor = static_cast<uint32_t>(d);
    return ((uint32_t{1} << kReciprocalShift) + divisor - 1) / divisor;
}

// Means of the columns whose window lies wholly inside the row: sums of the
// stride-step prefix, all with the same divisor.
int32_t fullWindowMeansVector(const int32_t* __restrict prefix, uint8_t* __restrict out, int32_t begin, int32_t end,
                              int32_t radius, int32_t step, uint32_t reciprocal);

void fullWindowMeans(const int32_t* __restrict prefix, uint8_t* __restrict out, int32_t begin, int32_t end,
                     int32_t radius, int32_t step, uint32_t reciprocal) {
    for (int32_t x = fullWindowMeansVector(prefix, out, begin, end, radius, step, reciprocal); x < end; ++x) {
        const uint32_t sum = static_cast<uint32_t>(prefix[x + radius] - prefix[x - radius - step]);
        out[x] = static_cast<uint8_t>((sum * reciprocal) >> kReciprocalShift);
    }
}

#if ORVANE_SSE2
// Sixteen columns per step, four quotients per product pair: the
// 32 x 32 -> 64-bit multiplies of the even and the odd lanes, each shifted
// down, then put back together.
int32_t fullWindowMeansVector(const int32_t* __restrict prefix, uint8_t* __restrict out, int32_t begin, int32_t end,
                              int32_t radius, int32_t step, uint32_t reciprocal) {
    const __m128i factor = _mm_set1_epi32(static_cast<int32_t>(reciprocal));
    const __m128i lowLanes = _mm_set_epi32(0, -1, 0, -1);
    auto quotients = [&](int32_t at) {
        const __m128i sums =
            _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix + at + radius)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix + at - radius - step)));
        const __m128i even = _mm_srli_epi64(_mm_mul_epu32(sums, factor), kReciprocalShift);
        const __m128i odd = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(sums, 32), factor), kReciprocalShift);
        return _mm_or_si128(_mm_and_si128(even, lowLanes), _mm_slli_epi64(odd, 32));
    };
    int32_t x = begin;
    for (; x + 16 <= end; x += 16) {
        const __m128i low = _mm_packs_epi32(quotients(x), quotients(x + 4));
        const __m128i high = _mm_packs_epi32(quotients(x + 8), quotients(x + 12));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(low, high));
    }
    return x;
}
#else
int32_t fullWindowMeansVector(const int32_t*, uint8_t*, int32_t begin, int32_t, int32_t, int32_t, uint32_t) {
    return begin;
}
#endif

// The 3 x 3 mean (radius 1, every sample), the smoothing of every image.
// Each output row is built from the column sums of the (up to) three source
// rows around it; the divisor is 3, 6 or 9 in the interior columns (1, 2 or 3
// rows times 3 columns) and 2, 4 or 6 at the two edge columns.
//
// The interior quotients come from a 16-bit multiply-high: with
// m = ceil(2^16 / d), (s * m) >> 16 equals s / d for every sum s <= 255 d
// (checked below at compile time), which SSE2 does eight lanes at a time;
// the column sums stay aligned to 16 bytes for the stores.
constexpr uint32_t kThirdOf[4] = {0, 21846, 10923, 7282};  // m for d = 3 * rows

static_assert(multiplyHighDivides(3, kThirdOf[1], 255 * 3) && multiplyHighDivides(6, kThirdOf[2], 255 * 6) &&
                  multiplyHighDivides(9, kThirdOf[3], 255 * 9),
              "the multiply-high quotients of the 3 x 3 mean must be exact");

// Column sums of three rows, and the interior means of the 3 x 3 window
// from column sums; see meanRow3x3.
int32_t columnSumsOfThreeVector(const uint8_t* const lines[3], uint16_t* columns, int32_t width);
int32_t interiorMeansVector(const uint16_t* columns, uint8_t* __restrict out, int32_t width, uint32_t m);

// One row of the 3 x 3 mean: above and below are null outside the image.
void meanRow3x3(const uint8_t* above, const uint8_t* row, const uint8_t* below, uint8_t* __restrict out,
                int32_t width) {
    alignas(16) uint16_t columns[kMaxWidth + 8];
    // The rows inside, first to last.
    const uint8_t* lines[3];
    int32_t rows = 0;
    if (above) lines[rows++] = above;
    lines[rows++] = row;
    if (below) lines[rows++] = below;
    const int32_t c = rows == 3 ? columnSumsOfThreeVector(lines, columns, width) : 0;
    for (int32_t x = c; x < width; ++x) columns[x] = lines[0][x];
    for (int32_t i = 1; i < rows; ++i)
        for (int32_t x = c; x < width; ++x) columns[x] = static_cast<uint16_t>(columns[x] + lines[i][x]);
    if (width == 1) {
        out[0] = static_cast<uint8_t>(columns[0] / rows);
        return;
    }
    out[0] = static_cast<uint8_t>((columns[0] + columns[1]) / (2 * rows));
    out[width - 1] = static_cast<uint8_t>((columns[width - 2] + columns[width - 1]) / (2 * rows));
    const uint32_t m = kThirdOf[rows];
    for (int32_t x = interiorMeansVector(columns, out, width, m); x < width - 1; ++x)
        out[x] = static_cast<uint8_t>(((columns[x - 1] + columns[x] + columns[x + 1]) * m) >> 16);
}

#if ORVANE_SSE2
// The three rows summed in one go, 16 columns per step.
int32_t columnSumsOfThreeVector(const uint8_t* const lines[3], uint16_t* columns, int32_t width) {
    const __m128i zero = _mm_setzero_si128();
    int32_t c = 0;
    for (; c + 16 <= width; c += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[0] + c));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[1] + c));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[2] + c));
        const __m128i low = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                                          _mm_unpacklo_epi8(d, zero));
        const __m128i high = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                                           _mm_unpackhi_epi8(d, zero));
        _mm_store_si128(reinterpret_cast<__m128i*>(columns + c), low);
        _mm_store_si128(reinterpret_cast<__m128i*>(columns + c + 8), high);
    }
    return c;
}

// Sixteen outputs per step from x = 1 while x + 16 <= width - 1 (columns
// x - 1 to x + 16 exist).
int32_t interiorMeansVector(const uint16_t* columns, uint8_t* __restrict out, int32_t width, uint32_t m) {
    const __m128i multiplier = _mm_set1_epi16(static_cast<int16_t>(m));
    int32_t x = 1;
    for (; x + 16 <= width - 1; x += 16) {
        const __m128i low = _mm_add_epi16(
            _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + x - 1)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + x))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + x + 1)));
        const __m128i high = _mm_add_epi16(
            _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + x + 7)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + x + 8))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + x + 9)));
        const __m128i means =
            _mm_packus_epi16(_mm_mulhi_epu16(low, multiplier), _mm_mulhi_epu16(high, multiplier));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), means);
    }
    return x;
}
#else
int32_t columnSumsOfThreeVector(const uint8_t* const*, uint16_t*, int32_t) { return 0; }
int32_t interiorMeansVector(const uint16_t*, uint8_t*, int32_t, uint32_t) { return 1; }
#endif

void boxMean3x3(const uint8_t* __restrict source, uint8_t* __restrict destination, int32_t width, int32_t height) {
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = source + y * width;
        meanRow3x3(y > 0 ? row - width : nullptr, row, y + 1 < height ? row + width : nullptr, destination + y * width,
                   width);
    }
}

// The prefix of sampling 2 (a running total per column parity) from
// column 0; returns the column reached, with the two totals so far.
#if ORVANE_SSE2
// Four columns (two of each parity) per step: [a, b, c, d] plus itself
// shifted by two lanes is [a, b, a + c, b + d]; the totals so far are added
// to both halves and carried in lanes 2 and 3.
int32_t parityPrefixVector(const int32_t* sums, int32_t* prefix, int32_t width, int32_t& even, int32_t& odd) {
    __m128i totals = _mm_setzero_si128();
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + x));
        const __m128i result = _mm_add_epi32(_mm_add_epi32(v, _mm_slli_si128(v, 8)), totals);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(prefix + x), result);
        totals = _mm_shuffle_epi32(result, _MM_SHUFFLE(3, 2, 3, 2));
    }
    even = _mm_cvtsi128_si32(totals);
    odd = _mm_cvtsi128_si32(_mm_srli_si128(totals, 4));
    return x;
}
#else
int32_t parityPrefixVector(const int32_t*, int32_t*, int32_t, int32_t&, int32_t&) { return 0; }
#endif

// Interior of one half row: the 1 2 1 sums across the vertical sums at the
// even columns from x = 2; see halveImage.
#if ORVANE_SSE2
// Eight outputs per step: the even and odd sums split out of the 32-bit
// lanes (each at most 1020, so the signed packs are exact).
int32_t halveRowVector(const uint16_t* vertical, uint8_t* out, int32_t width) {
    const __m128i lowHalf = _mm_set1_epi32(0xFFFF);
    int32_t x = 2;
    for (; x + 14 < width - 2; x += 16) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertical + x));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertical + x + 8));
        const __m128i pl = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertical + x - 2));
        const __m128i ql = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertical + x + 6));
        const __m128i centre = _mm_packs_epi32(_mm_and_si128(p, lowHalf), _mm_and_si128(q, lowHalf));
        const __m128i right = _mm_packs_epi32(_mm_srli_epi32(p, 16), _mm_srli_epi32(q, 16));
        const __m128i left = _mm_packs_epi32(_mm_srli_epi32(pl, 16), _mm_srli_epi32(ql, 16));
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(left, right), _mm_add_epi16(centre, centre));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x / 2),
                         _mm_packus_epi16(_mm_srli_epi16(sum, 4), _mm_setzero_si128()));
    }
    return x;
}
#else
int32_t halveRowVector(const uint16_t*, uint8_t*, int32_t) { return 2; }
#endif

}  // namespace

// The window sum is separable: for each row a running vertical sum per column
// (one set per row parity when sampling every second row), then a prefix sum
// along the row over the columns of the same parity. The number of samples is
// the product of the in-image rows and columns.
void boxMean(Workspace& ws, const uint8_t* source, uint8_t* destination, int32_t radius, int32_t sampling) {
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    if (width < 1 || height < 1 || width > kMaxWidth || height > kMaxHeight) return;
    if (radius < 0) {  // an empty window: no sample at all
        std::memset(destination, 0, static_cast<size_t>(width) * static_cast<size_t>(height));
        return;
    }
    const int32_t step = sampling == 2 ? 2 : 1;
    if (radius == 1 && step == 1) {
        boxMean3x3(source, destination, width, height);
        return;
    }
    // Any radius past the image size is the same window, given its parity.
    const int32_t limit = kMaxWidth + 2;
    if (radius > limit) radius = limit + ((radius - limit) & 1);

    BoxMeanBuffers& buffers = stageBuffers<BoxMeanBuffers>(ws);
    int32_t (*const columnSums)[kMaxWidth] = buffers.columnSums;
    int32_t* const prefix = buffers.prefix;
    WindowSpan* const columnSpans = buffers.columnSpans;
    int32_t widestColumns = 0;
    for (int32_t x = 0; x < width; ++x) {
        columnSpans[x] = windowSpan(x, radius, step, width);
        if (columnSpans[x].count > widestColumns) widestColumns = columnSpans[x].count;
    }
    int32_t tallestRows = 0;
    for (int32_t y = 0; y < height && y <= radius + step; ++y) {
        const int32_t rows = windowSpan(y, radius, step, height).count;
        if (rows > tallestRows) tallestRows = rows;
    }
    const int32_t largestCount = widestColumns * tallestRows;
    const bool tabled = largestCount <= kMaxTabledCount;
    uint32_t* const reciprocal = buffers.reciprocal;
    if (tabled) {
        reciprocal[0] = 0;  // an empty window gives 0
        for (int32_t d = 1; d <= largestCount; ++d) reciprocal[d] = reciprocalOf(d);
    }
    // Columns whose whole window is inside and whose prefix difference needs
    // no test: radius + step <= x <= width - 1 - radius.
    const int32_t fullBegin = radius + step;
    const int32_t fullEnd = width - radius > fullBegin ? width - radius : fullBegin;

    for (int32_t y = 0; y < height; ++y) {
        int32_t* sums = columnSums[y % step];
        if (y < step) {
            std::memset(sums, 0, sizeof(int32_t) * static_cast<size_t>(width));
            const WindowSpan rows = windowSpan(y, radius, step, height);
            for (int32_t row = rows.first; row <= rows.last && rows.count > 0; row += step) {
                const uint8_t* line = source + row * width;
                for (int32_t x = 0; x < width; ++x) sums[x] += line[x];
            }
        } else {
            const int32_t leaving = y - step - radius;
            const int32_t entering = y + radius;
            if (leaving >= 0 && leaving < height) {
                const uint8_t* line = source + leaving * width;
                for (int32_t x = 0; x < width; ++x) sums[x] -= line[x];
            }
            if (entering >= 0 && entering < height) {
                const uint8_t* line = source + entering * width;
                for (int32_t x = 0; x < width; ++x) sums[x] += line[x];
            }
        }
        const int32_t rowCount = windowSpan(y, radius, step, height).count;

        // Prefix over the columns of each parity (of every column for step 1),
        // with the running totals kept in registers.
        if (step == 2) {
            int32_t even = 0, odd = 0;
            int32_t x = parityPrefixVector(sums, prefix, width, even, odd);
            for (; x + 1 < width; x += 2) {
                even += sums[x];
                odd += sums[x + 1];
                prefix[x] = even;
                prefix[x + 1] = odd;
            }
            if (x < width) prefix[x] = even + sums[x];
        } else {
            int32_t total = 0;
            for (int32_t x = 0; x < width; ++x) prefix[x] = total += sums[x];
        }

        uint8_t* out = destination + y * width;
        if (tabled) {
            auto edgeMean = [&](int32_t x) {
                const WindowSpan& span = columnSpans[x];
                if (span.count == 0) {
                    out[x] = 0;
                    return;
                }
                const uint32_t sum =
                    static_cast<uint32_t>(prefix[span.last] - (span.first >= step ? prefix[span.first - step] : 0));
                out[x] = static_cast<uint8_t>((sum * reciprocal[span.count * rowCount]) >> kReciprocalShift);
            };
            const int32_t begin = fullBegin < width ? fullBegin : width;
            for (int32_t x = 0; x < begin; ++x) edgeMean(x);
            if (fullEnd > fullBegin) {
                fullWindowMeans(prefix, out, fullBegin, fullEnd, radius, step,
                                reciprocal[columnSpans[fullBegin].count * rowCount]);
            }
            for (int32_t x = fullEnd > begin ? fullEnd : begin; x < width; ++x) edgeMean(x);
            continue;
        }
        for (int32_t x = 0; x < width; ++x) {
            const WindowSpan& span = columnSpans[x];
            const int32_t count = span.count * rowCount;
            if (count == 0) {
                out[x] = 0;
                continue;
            }
            const int32_t sum = prefix[span.last] - (span.first >= step ? prefix[span.first - step] : 0);
            out[x] = static_cast<uint8_t>(sum / count);
        }
    }
}

void halveImage(Workspace& ws) {
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    if (width > kMaxWidth || height > kMaxHeight) return;
    const int32_t halfWidth = width / 2;
    const int32_t halfHeight = height / 2;
    if (halfWidth < 1 || halfHeight < 1) return;  // an empty half image is written nowhere
    const uint8_t* image = ws.imagePlane;
    uint8_t* half = ws.scratchPlane;

    // Left and right columns, then top and bottom rows: point samples.
    for (int32_t y = 0; y <= 2 * halfHeight - 2; y += 2) {
        half[(y / 2) * halfWidth] = image[y * width];
        half[(y / 2) * halfWidth + halfWidth - 1] = image[y * width + width - 1];
    }
    for (int32_t x = 0; x <= 2 * halfWidth - 2; x += 2) {
        half[x / 2] = image[x];
        half[(halfHeight - 1) * halfWidth + x / 2] = image[(height - 1) * width + x];
    }
    // Interior: 3 x 3 binomial average around every even (x, y), as the
    // vertical 1 2 1 sums of the three rows, then 1 2 1 across them.
    alignas(16) uint16_t vertical[kMaxWidth];
    for (int32_t y = 2; y < height - 2; y += 2) {
        const uint8_t* above = image + (y - 1) * width;
        const uint8_t* row = above + width;
        const uint8_t* below = row + width;
        uint8_t* out = half + (y / 2) * halfWidth;
        for (int32_t x = 0; x < width; ++x)
            vertical[x] = static_cast<uint16_t>(above[x] + 2 * row[x] + below[x]);
        int32_t x = halveRowVector(vertical, out, width);
        for (; x < width - 2; x += 2)
            out[x / 2] = static_cast<uint8_t>((vertical[x - 1] + 2 * vertical[x] + vertical[x + 1]) >> 4);
    }
}

// Both 3 x 3 passes in one sweep: the first pass's rows live in a ring of
// three on the stack, and the second pass writes row r to imagePlane (and to
// scratchPlane, where the separate passes would leave it) once the first
// pass no longer needs the source row r. The planes end as after two passes
// with their copies back.
void smoothAndHalve(Workspace& ws) {
    const int32_t count = ws.pixelCount;
    if (count < 1 || count > kPlaneSize) return;
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    if (width < 1 || height < 1 || width > kMaxWidth || height > kMaxHeight) return;
    uint8_t* image = ws.imagePlane;
    uint8_t* scratch = ws.scratchPlane;
    uint8_t firstPass[3][kMaxWidth];
    int32_t nextFirst = 0;  // the next first-pass row to make
    for (int32_t r = 0; r < height; ++r) {
        // First-pass rows up to r + 1; row r + 1 reads source row r, which
        // is still the original until it is rewritten below.
        for (; nextFirst <= r + 1 && nextFirst < height; ++nextFirst) {
            const uint8_t* row = image + nextFirst * width;
            meanRow3x3(nextFirst > 0 ? row - width : nullptr, row, nextFirst + 1 < height ? row + width : nullptr,
                       firstPass[nextFirst % 3], width);
        }
        uint8_t* out = scratch + r * width;
        meanRow3x3(r > 0 ? firstPass[(r - 1) % 3] : nullptr, firstPass[r % 3],
                   r + 1 < height ? firstPass[(r + 1) % 3] : nullptr, out, width);
        std::memcpy(image + r * width, out, static_cast<size_t>(width));
    }
    halveImage(ws);
}

}  // namespace orvane
