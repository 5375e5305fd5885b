// The direction and ring orientations of one minutia candidate.
#pragma once

#include <cstdint>

#include "core/parameters.h"
#include "core/minutia.h"
#include "workspace/workspace.h"

namespace orvane {

// Ridge neighbours of a cut-out junction, in ring order.
struct BranchStarts {
    int32_t count;
    int32_t pixels[8];
};

// Sets (x, y) and each of its ridge neighbours to background in imagePlane,
// collecting the neighbours into branches. Returns their number (0..8).
// Must be followed by restoreJunction.
int32_t cutJunction(Workspace& ws, int32_t x, int32_t y, BranchStarts& branches);

// Sets (x, y) and the collected neighbours back to ridge.
void restoreJunction(Workspace& ws, int32_t x, int32_t y, const BranchStarts& branches);

// The direction of D chosen from orientation o: o or o + 180, whichever lies
// within 90 degrees of the reference direction.
int32_t flipToward(int32_t orientation, int32_t reference);

// Fills the three ring orientations of record from orientationPlane, sampled
// 16 pixels from (record.x, record.y) at direction + 45, + 165 and + 285.
void sampleRingOrientations(const Workspace& ws, Minutia& record);

// Which two of three branch trace ends lie closest together, from their
// distances: 0 for (e0, e1), 1 for (e0, e2), 2 for (e1, e2). Ties fall to
// (e0, e1).
int32_t closestBranchPair(double d01, double d02, double d12);

// A ridge ending at (x, y): true and record filled (kind 1), or false when its
// ridge cannot be traced.
bool describeEnding(const Workspace& ws, int32_t x, int32_t y, Minutia& record);

// As describeEnding with the end pixel of the ridge trace from (x, y) already
// known.
void describeTracedEnding(const Workspace& ws, int32_t x, int32_t y, int32_t traceEnd, Minutia& record);

// A bifurcation at (x, y): true and record filled (kind 2), or false when the
// pixel has not exactly three ridge neighbours or a branch cannot be traced.
// imagePlane is the same on return.
bool describeBifurcation(Workspace& ws, int32_t x, int32_t y, Minutia& record);

}  // namespace orvane
