// Noise removal of the two-level ridge image.
#include <cstring>

#include "enhance/enhance.h"

namespace orvane {

namespace {
constexpr int kMaxPasses = 8;
}

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
    for (int pass = 1;; ++pass) {
        bool changed = false;
        for (int32_t y = 1; y < height - 1; ++y) {
            const uint8_t* above = image + (y - 1) * width;
            const uint8_t* row = above + width;
            const uint8_t* below = row + width;
            const uint8_t* maskRow = mask + y * width;
            uint8_t* outRow = out + y * width;
            for (int32_t x = 1; x < width - 1; ++x) {
                if (maskRow[x] == 255) continue;
                const uint8_t v = row[x];
                const int n = (above[x - 1] == v) + (above[x] == v) + (above[x + 1] == v) + (row[x - 1] == v) +
                              (row[x + 1] == v) + (below[x - 1] == v) + (below[x] == v) + (below[x + 1] == v);
                if (n < 2) {
                    outRow[x] = static_cast<uint8_t>(255 - v);
                    changed = true;
                } else {
                    outRow[x] = v;
                }
            }
        }
        std::memcpy(image, out, count);
        if (!changed || pass >= kMaxPasses) break;
    }
}

}  // namespace orvane
