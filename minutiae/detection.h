// Minutia detection: candidate endings and bifurcations on the cleaned
// skeleton, the background and ridge-flow tests, the pair filters and the
// records of extractedSet.
#pragma once

#include <cstdint>

#include "core/parameters.h"
#include "workspace/workspace.h"

namespace orvane {

// Offsets (dx, dy) of the 28 points of the orientation circle (radius 5), in
// cyclic order.
extern const int8_t OrientationCircle[28][2];

// Candidate positions of one kind, in scan order. A removed entry has x and
// y set to 0.
struct CandidateList {
    int32_t count;
    int32_t x[kCandidateCapacity];
    int32_t y[kCandidateCapacity];
};

// Sum of the orientation differences between consecutive circle points
// around (x, y) in orientationPlane.
int32_t circleVariation(const Workspace& ws, int32_t x, int32_t y);

// True when the 33 x 33 window of orientationPlane around (x, y) holds a
// background value (255).
bool touchesBackground(const Workspace& ws, int32_t x, int32_t y);

// Scans imagePlane for ending and bifurcation candidates that pass the
// background and flow tests. Returns 0, or 1 when a list reaches 100.
int32_t scanCandidates(const Workspace& ws, CandidateList& endings, CandidateList& bifurcations);

// Fills ws.extractedSet, endings first. Fails when a kind keeps reaching
// kKindLimit (or the two together exceed kMaxMinutiae) through all
// kMaxAttempts attempts, a list of candidates reaches kCandidateCapacity, or
// fewer than kMinMinutiae minutiae result. imagePlane is the same on return.
StageResult detectMinutiae(Workspace& ws);

}  // namespace orvane
