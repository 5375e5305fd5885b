// Box mean and half-resolution reduction.
#include <cstring>

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

uint32_t reciprocalOf(int32_t d) {
    const uint32_t divisor = static_cast<uint32_t>(d);
    return ((uint32_t{1} << kReciprocalShift) + divisor - 1) / divisor;
}

// Means of the columns whose window lies wholly inside the row: sums of the
// stride-step prefix, all with the same divisor.
void fullWindowMeans(const int32_t* __restrict prefix, uint8_t* __restrict out, int32_t begin, int32_t end,
                     int32_t radius, int32_t step, uint32_t reciprocal) {
    for (int32_t x = begin; x < end; ++x) {
        const uint32_t sum = static_cast<uint32_t>(prefix[x + radius] - prefix[x - radius - step]);
        out[x] = static_cast<uint8_t>((sum * reciprocal) >> kReciprocalShift);
    }
}

// The 3 x 3 mean (radius 1, every sample), the smoothing of every image:
// column sums of the rows inside, then three of them across; the divisor is
// 3, 6 or 9 in the interior columns (1, 2 or 3 rows times 3 columns).
template <int kRows>
void meanOfColumnTriples(const uint16_t* __restrict columns, uint8_t* __restrict out, int32_t width) {
    for (int32_t x = 1; x < width - 1; ++x)
        out[x] = static_cast<uint8_t>((columns[x - 1] + columns[x] + columns[x + 1]) / (3 * kRows));
}

void boxMean3x3(const uint8_t* __restrict source, uint8_t* __restrict destination, int32_t width, int32_t height) {
    uint16_t columns[kMaxWidth];
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = source + y * width;
        const uint8_t* above = y > 0 ? row - width : nullptr;
        const uint8_t* below = y + 1 < height ? row + width : nullptr;
        int32_t rows = 1;
        for (int32_t x = 0; x < width; ++x) columns[x] = row[x];
        if (above) {
            ++rows;
            for (int32_t x = 0; x < width; ++x) columns[x] = static_cast<uint16_t>(columns[x] + above[x]);
        }
        if (below) {
            ++rows;
            for (int32_t x = 0; x < width; ++x) columns[x] = static_cast<uint16_t>(columns[x] + below[x]);
        }
        uint8_t* out = destination + y * width;
        if (width == 1) {
            out[0] = static_cast<uint8_t>(columns[0] / rows);
            continue;
        }
        out[0] = static_cast<uint8_t>((columns[0] + columns[1]) / (2 * rows));
        out[width - 1] = static_cast<uint8_t>((columns[width - 2] + columns[width - 1]) / (2 * rows));
        if (rows == 3) {
            meanOfColumnTriples<3>(columns, out, width);
        } else if (rows == 2) {
            meanOfColumnTriples<2>(columns, out, width);
        } else {
            meanOfColumnTriples<1>(columns, out, width);
        }
    }
}

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

    int32_t columnSums[2][kMaxWidth];
    int32_t prefix[kMaxWidth];
    WindowSpan columnSpans[kMaxWidth];
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
    uint32_t reciprocal[kMaxTabledCount + 1];
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
            int32_t x = 0;
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
    // Interior: 3 x 3 binomial average around every even (x, y).
    for (int32_t y = 2; y < height - 2; y += 2) {
        const uint8_t* above = image + (y - 1) * width;
        const uint8_t* row = above + width;
        const uint8_t* below = row + width;
        uint8_t* out = half + (y / 2) * halfWidth;
        for (int32_t x = 2; x < width - 2; x += 2) {
            const int32_t sum = above[x - 1] + 2 * above[x] + above[x + 1] + 2 * row[x - 1] + 4 * row[x] +
                                2 * row[x + 1] + below[x - 1] + 2 * below[x] + below[x + 1];
            out[x / 2] = static_cast<uint8_t>(sum >> 4);
        }
    }
}

void smoothAndHalve(Workspace& ws) {
    const int32_t count = ws.pixelCount;
    if (count < 1 || count > kPlaneSize) return;
    for (int pass = 0; pass < 2; ++pass) {
        boxMean(ws, ws.imagePlane, ws.scratchPlane, 1, 1);
        std::memcpy(ws.imagePlane, ws.scratchPlane, static_cast<size_t>(count));
    }
    halveImage(ws);
}

}  // namespace orvane
