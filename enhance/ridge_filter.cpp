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
            for (int32_t i = 0; i < 7; ++i) offset[k][i] = DirectionLineTable[k][i][1] * width + DirectionLineTable[k][i][0];
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

bool validSize(const Workspace& ws) {
    return ws.width >= 1 && ws.height >= 1 && ws.width <= kMaxWidth && ws.height <= kMaxHeight;
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
            for (int32_t i = y * width + x0, end = y * width + x1; i < end; ++i) {
                const int32_t* o = lines.offset[kDirections.along[codes[i]]];
                const uint8_t* p = image + i;
                const int32_t sum = p[o[0]] + p[o[1]] + p[o[2]] + p[o[3]] + p[o[4]] + p[o[5]] + p[o[6]];
                smooth[i] = static_cast<uint8_t>(sum / 7);
            }
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
            for (int32_t i = y * width + x0, end = y * width + x1; i < end; ++i) {
                const int32_t* o = lines.offset[kDirections.across[codes[i]]];
                const uint8_t* p = smooth + i;
                const int32_t sum = -3 * p[o[0]] - p[o[1]] + 3 * p[o[2]] + 9 * p[o[3]] + 3 * p[o[4]] - p[o[5]] -
                                    3 * p[o[6]];
                image[i] = clampByte(sum / 7);
            }
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
            for (int32_t i = y * width + x0, end = y * width + x1; i < end; ++i) {
                const uint8_t* p = image + i;
                if (p[0] < 4) {
                    ridges[i] = 0;
                    continue;
                }
                const uint8_t code = codes[i];
                const int32_t* a = lines.offset[kDirections.along[code]];
                const int32_t* c = lines.offset[kDirections.across[code]];
                const int32_t along =
                    (2 * p[a[0]] + 2 * p[a[1]] + 3 * p[a[2]] + 4 * p[a[3]] + 3 * p[a[4]] + 2 * p[a[5]] + 2 * p[a[6]]) /
                    18;
                const int32_t across = (p[c[0]] + p[c[1]] + p[c[2]] + p[c[3]] + p[c[4]] + p[c[5]] + p[c[6]]) / 7;
                ridges[i] = along < across ? 0 : 255;
            }
        });
    std::memcpy(ws.imagePlane, ridges, static_cast<size_t>(width) * static_cast<size_t>(height));
}

}  // namespace orvane
