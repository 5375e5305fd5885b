#include "minutiae/cleanup.h"

#include <cstring>

#include "minutiae/skeleton.h"

namespace orvane {

int32_t cleanSkeleton(Workspace& ws, int32_t maxPieceLength) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    if (w < 3 || h < 3) return 0;
    if (maxPieceLength > kMaxPieceLengthLimit) maxPieceLength = kMaxPieceLengthLimit;
    uint8_t* plane = ws.imagePlane;
    int32_t offsets[8];
    ringOffsets(w, offsets);
    int32_t piece[kMaxPieceLengthLimit + 1];

    // In the pipeline the border is background (the mask is applied before
    // thinning), so these tests never cut a walk short there.
    auto onBorder = [w, h](int32_t p) {
        const int32_t x = p % w;
        const int32_t y = p / w;
        return x == 0 || y == 0 || x == w - 1 || y == h - 1;
    };

    for (int32_t y = 1; y <= h - 2; ++y) {
        uint8_t* row = plane + y * w;
        int32_t x = 1;
        while (x <= w - 2) {
            // Jump to the next ridge pixel of the row.
            const void* hit = std::memchr(row + x, kRidge, static_cast<size_t>(w - 1 - x));
            if (!hit) break;
            x = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - row);
            const int32_t p = y * w + x;
            ++x;

            int32_t count = 0;
            int32_t first = kNoPixel;
            for (int32_t i = 0; i < 8; ++i) {
                if (plane[p + offsets[i]] == kRidge) {
                    if (count == 0) first = p + offsets[i];
                    ++count;
                }
            }
            if (count == 0) {
                plane[p] = kBackground;
                continue;
            }
            if (count != 1 || maxPieceLength < 1) continue;

            int32_t length = 0;
            piece[length++] = p;
            int32_t prev = p;
            int32_t cur = first;
            int32_t advances = 0;
            for (;;) {
                if (onBorder(cur)) {
                    piece[length++] = cur;
                    break;
                }
                if (isBifurcationPixel(ws, cur)) break;
                piece[length++] = cur;
                int32_t next;
                if (nextRidgePixel(ws, cur, prev, next) != 0) break;
                prev = cur;
                cur = next;
                if (++advances == maxPieceLength) break;
            }
            if (length <= maxPieceLength) {
                for (int32_t i = 0; i < length; ++i) plane[piece[i]] = kBackground;
            }
        }
    }
    return 0;
}

}  // namespace orvane
