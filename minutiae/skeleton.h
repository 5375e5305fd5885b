// Primitives for looking at and walking along the one-pixel ridge skeleton in
// imagePlane (ridge 0, background 255). Pixels are passed as plane indices
// y * width + x. None of them reads the centre pixel or checks that the ring
// lies inside the image: callers keep the pixel off the image border.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "workspace/workspace.h"

namespace orvane {

// Index of "no pixel", distinct from every pixel index.
constexpr int32_t kNoPixel = -1;

constexpr uint8_t kRidge = 0;
constexpr uint8_t kBackground = 255;

// Index offsets of the 8-neighbour ring, in ring order: (x-1,y+1), (x,y+1),
// (x+1,y+1), (x+1,y), (x+1,y-1), (x,y-1), (x-1,y-1), (x-1,y).
inline void ringOffsets(int32_t width, int32_t offsets[8]) {
    offsets[0] = width - 1;
    offsets[1] = width;
    offsets[2] = width + 1;
    offsets[3] = 1;
    offsets[4] = 1 - width;
    offsets[5] = -width;
    offsets[6] = -width - 1;
    offsets[7] = -1;
}

// Sum over the ring of |r(i+1) - r(i)|, cyclically: 255 per change between
// ridge and background.
inline int32_t crossingSum(const Workspace& ws, int32_t p) {
    const uint8_t* c = ws.imagePlane + p;
    const int32_t w = ws.width;
    const int32_t r0 = c[w - 1], r1 = c[w], r2 = c[w + 1], r3 = c[1];
    const int32_t r4 = c[1 - w], r5 = c[-w], r6 = c[-w - 1], r7 = c[-1];
    return std::abs(r1 - r0) + std::abs(r2 - r1) + std::abs(r3 - r2) + std::abs(r4 - r3) + std::abs(r5 - r4) +
           std::abs(r6 - r5) + std::abs(r7 - r6) + std::abs(r0 - r7);
}

// Three separate runs of ridge neighbours.
inline bool isBifurcationPixel(const Workspace& ws, int32_t p) { return crossingSum(ws, p) == 1530; }

// One run of ridge neighbours (of any length from 1 to 7).
inline bool isEndingPixel(const Workspace& ws, int32_t p) { return crossingSum(ws, p) == 510; }

// The one ridge pixel in the ring of c other than q. Returns 0 and sets next,
// or 1 (none or several) and leaves next alone.
inline int32_t nextRidgePixel(const Workspace& ws, int32_t c, int32_t q, int32_t& next) {
    int32_t offsets[8];
    ringOffsets(ws.width, offsets);
    int32_t found = 0;
    int32_t pixel = kNoPixel;
    for (int32_t i = 0; i < 8; ++i) {
        const int32_t n = c + offsets[i];
        if (n != q && ws.imagePlane[n] == kRidge) {
            ++found;
            pixel = n;
        }
    }
    if (found != 1) return 1;
    next = pixel;
    return 0;
}

// The place where a walk along the ridge stopped: the pixel it stands on
// and the one it came from.
struct RidgeWalk {
    int32_t previous;
    int32_t current;
};

// Walks the ridge from start through its ridge neighbour first for at most
// n advances. At each pixel reached: where stopHere(pixel) holds, the walk
// takes it (visit(pixel)) and ends; at a bifurcation pixel it ends without
// taking it; otherwise it takes the pixel and goes on to the one ridge pixel
// beyond it, ending where there is none or several. Pixels tested for a
// bifurcation must be off the border: stopHere keeps the walk there.
template <typename StopHere, typename Visit>
inline RidgeWalk walkRidge(const Workspace& ws, int32_t start, int32_t first, int32_t n, StopHere stopHere,
                           Visit visit) {
    RidgeWalk walk{start, first};
    for (int32_t steps = 0; steps < n; ++steps) {
        if (stopHere(walk.current)) {
            visit(walk.current);
            break;
        }
        if (isBifurcationPixel(ws, walk.current)) break;
        visit(walk.current);
        int32_t next;
        if (nextRidgePixel(ws, walk.current, walk.previous, next) != 0) break;
        walk.previous = walk.current;
        walk.current = next;
    }
    return walk;
}

// Follows the ridge from s (which must have exactly one ridge neighbour) for
// at most n advances, stopping before a bifurcation pixel or where the ridge
// does not continue uniquely. Returns 0 and sets end, or 1.
inline int32_t traceRidge(const Workspace& ws, int32_t s, int32_t n, int32_t& end) {
    int32_t neighbour;
    if (nextRidgePixel(ws, s, kNoPixel, neighbour) != 0) return 1;
    const RidgeWalk walk = walkRidge(
        ws, s, neighbour, n, [](int32_t) { return false; }, [](int32_t) {});
    end = isBifurcationPixel(ws, walk.current) ? walk.previous : walk.current;
    return 0;
}

inline int32_t pixelX(const Workspace& ws, int32_t p) { return p % ws.width; }
inline int32_t pixelY(const Workspace& ws, int32_t p) { return p / ws.width; }

// Direction in whole degrees from (x1, y1) to (x2, y2); 90 points towards
// increasing y. 0..359 for vectors of components up to 16.
int32_t pointDirection(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

}  // namespace orvane
