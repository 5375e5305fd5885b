// Directional ridge filtering and binarization along the DirectionLineTable.
#include <cstring>

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
        const bool ridge = (centre < 4) | (along < across);
        destination[i] = static_cast<uint8_t>(ridge ? 0 : 255);
    }
}

}  // namespace

void filterAlongRidges(Workspace& ws) {
    if (!validSize(ws)) return;
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    uint8_t* image = ws.imagePlane;
    uint8_t* smooth = ws.scratchPlane;
    const uint8_t* codes = ws.orientationPlane;
    const LineOffsets lines(width);

    // Along the ridge: plain 7-point mean of imagePlane into scratchPlane.
    visitPixels(
        width, height,
        [&](int32_t x, int32_t y) {
            const int32_t i = y * width + x;
            smooth[i] = static_cast<uint8_t>(
                clippedLineMean(image, width, height, x, y, kDirections.along[codes[i]], kFilterAlongWeights));
        },
        [&](int32_t y, int32_t x0, int32_t x1) {
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
            image[i] = clampByte(
                clippedLineMean(smooth, width, height, x, y, kDirections.across[codes[i]], kFilterAcrossWeights));
        },
        [&](int32_t y, int32_t x0, int32_t x1) {
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

    visitPixels(
        width, height,
        [&](int32_t x, int32_t y) {
            const int32_t i = y * width + x;
            if (image[i] < 4) {
                ridges[i] = 0;
                return;
            }
            const uint8_t code = codes[i];
            const int32_t along =
                clippedLineMean(image, width, height, x, y, kDirections.along[code], kBinarizeAlongWeights);
            const int32_t across =
                clippedLineMean(image, width, height, x, y, kDirections.across[code], kBinarizeAcrossWeights);
            ridges[i] = along < across ? 0 : 255;
        },
        [&](int32_t y, int32_t x0, int32_t x1) {
            forEachRun(codes, kDirections.along, y * width + x0, y * width + x1,
                       [&](int32_t k, int32_t begin, int32_t end) {
                           binarizeRun(image, ridges, lines.offset[k], lines.offset[acrossIndex(k)], begin, end);
                       });
        });
    std::memcpy(ws.imagePlane, ridges, static_cast<size_t>(width) * static_cast<size_t>(height));
}

}  // namespace orvane
