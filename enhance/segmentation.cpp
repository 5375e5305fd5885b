// Foreground segmentation and masking.
#include <cstring>

#include "enhance/enhance.h"

namespace orvane {

int32_t segmentForeground(Workspace& ws, int32_t radius, int32_t threshold) {
    const int32_t width = ws.width;
    const int32_t height = ws.height;
    if (width < 1 || height < 1 || width > kMaxWidth || height > kMaxHeight) return 1;
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
        for (int32_t x = 1; x < width - 1; ++x) {
            const bool isForeground = in[x] >= threshold;
            out[x] = isForeground ? 0 : 255;
            foreground += isForeground;
        }
    }
    return foreground < ws.pixelCount / 10 ? 1 : 0;
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
