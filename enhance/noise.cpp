// Noise removal of the two-level ridge image.
#include <cstring>

#include "enhance/enhance.h"

namespace orvane {

namespace {

constexpr int kMaxPasses = 8;

// One row of a pass, pixels 1..width-2. A pixel outside the foreground is
// not judged; its output byte is 255, which is what scratchPlane already
// holds there from the single fill. Returns whether any pixel flipped.
bool judgeRow(const uint8_t* __restrict above, const uint8_t* __restrict row, const uint8_t* __restrict below,
              const uint8_t* __restrict mask, uint8_t* __restrict out, int32_t width) {
    uint8_t flipped = 0;
    for (int32_t x = 1; x < width - 1; ++x) {
        const uint8_t v = row[x];
        const uint8_t like = static_cast<uint8_t>((above[x - 1] == v) + (above[x] == v) + (above[x + 1] == v) +
                                                  (row[x - 1] == v) + (row[x + 1] == v) + (below[x - 1] == v) +
                                                  (below[x] == v) + (below[x + 1] == v));
        const uint8_t judged = mask[x] != 255;
        const uint8_t flip = static_cast<uint8_t>(judged & (like < 2));
        const uint8_t value = flip ? static_cast<uint8_t>(255 - v) : v;
        out[x] = judged ? value : 255;
        flipped |= flip;
    }
    return flipped != 0;
}

}  // namespace

// From the third pass on, a row whose own pixels and neighbour rows saw no
// flip in the previous pass is judged exactly as before: its pixels would not
// flip and scratchPlane already holds its output, so it is skipped and not
// copied. (The first pass also whitens unjudged pixels without flipping
// them, hence the full second pass.)
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
    bool flippedBefore[kMaxHeight + 1] = {};
    bool flippedNow[kMaxHeight + 1] = {};
    for (int pass = 1;; ++pass) {
        bool changed = false;
        const bool everyRow = pass <= 2;
        for (int32_t y = 1; y < height - 1; ++y) {
            flippedNow[y] = false;
            if (!everyRow && !flippedBefore[y - 1] && !flippedBefore[y] && !flippedBefore[y + 1]) continue;
            const uint8_t* row = image + y * width;
            flippedNow[y] = judgeRow(row - width, row, row + width, mask + y * width, out + y * width, width);
            changed |= flippedNow[y];
        }
        if (everyRow) {
            std::memcpy(image, out, count);
        } else {
            for (int32_t y = 1; y < height - 1; ++y) {
                if (flippedBefore[y - 1] || flippedBefore[y] || flippedBefore[y + 1])
                    std::memcpy(image + y * width, out + y * width, static_cast<size_t>(width));
            }
        }
        if (!changed || pass >= kMaxPasses) break;
        std::memcpy(flippedBefore, flippedNow, sizeof flippedBefore);
    }
}

}  // namespace orvane
