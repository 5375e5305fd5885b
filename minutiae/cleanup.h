// Removal of isolated pixels, short spurs and short fragments from the
// skeleton in imagePlane.
#pragma once

#include <cstdint>

#include "core/parameters.h"
#include "workspace/workspace.h"

namespace orvane {

// Longest piece that cleanSkeleton can erase.
constexpr int32_t kMaxPieceLengthLimit = 24;
static_assert(kMaxPieceLength <= kMaxPieceLengthLimit, "the clean-up's piece length is above what it can erase");

// One raster pass over imagePlane: an isolated ridge pixel is erased; from a
// ridge pixel with exactly one ridge neighbour the ridge is followed for at
// most maxPieceLength advances and, when the piece it covers (up to but not
// including a bifurcation pixel) holds at most maxPieceLength pixels, the
// piece is erased. Changes are visible at once to pixels visited later.
// maxPieceLength above 24 is taken as 24. Ridge pixels on the image border
// are never visited, and a walk that reaches one stops there.
void cleanSkeleton(Workspace& ws, int32_t maxPieceLength);

}  // namespace orvane
