// Skeleton clean-up. The tests compare it with reference::cleanSkeleton
// (tests/minutiae/reference.cpp), a plain pass over every interior pixel.
#include "minutiae/cleanup.h"

#include <cstring>

#include "core/simd.h"
#include "minutiae/scan.h"
#include "minutiae/skeleton.h"

namespace orvane {

void cleanSkeleton(Workspace& ws, int32_t maxPieceLength) {
    const int32_t w = ws.width;
    const int32_t h = ws.height;
    if (w < 3 || h < 3) return;
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
        for (int32_t x0 = 1; x0 <= w - 2; x0 += 64) {
            const int32_t span = w - 1 - x0 < 64 ? w - 1 - x0 : 64;
            // Pixels erased ahead of the scan are tested again below; no
            // pixel turns into ridge.
            uint64_t ridge = zeroBits(plane + y * w + x0, span);
            while (ridge) {
                const int32_t x = x0 + countTrailingZeros(ridge);
                ridge &= ridge - 1;
                const int32_t p = y * w + x;
                if (plane[p] != kRidge) continue;

                uint32_t neighbours = 0;  // bit i: ring position i is ridge
                for (int32_t i = 0; i < 8; ++i)
                    neighbours |= static_cast<uint32_t>(plane[p + offsets[i]] == kRidge) << i;
                if (neighbours == 0) {
                    plane[p] = kBackground;
                    continue;
                }
                // Exactly one ridge neighbour: an end pixel.
                if ((neighbours & (neighbours - 1)) != 0 || maxPieceLength < 1) continue;
                const int32_t first = p + offsets[countTrailingZeros(neighbours)];

                int32_t length = 0;
                piece[length++] = p;
                walkRidge(ws, p, first, maxPieceLength, onBorder, [&](int32_t q) { piece[length++] = q; });
                if (length <= maxPieceLength) {
                    for (int32_t i = 0; i < length; ++i) plane[piece[i]] = kBackground;
                }
            }
        }
    }
}

}  // namespace orvane
