// Table-driven sequential thinning of the two-level ridge image to a skeleton
// one pixel wide.
#pragma once

#include <cstdint>

#include "workspace/workspace.h"

namespace orvane {

// 1 where the centre pixel of a neighbourhood may be deleted, indexed by the
// neighbour code: weights 1 (x-1,y+1), 2 (x,y+1), 4 (x+1,y+1), 8 (x-1,y),
// 16 (x+1,y), 32 (x-1,y-1), 64 (x,y-1), 128 (x+1,y-1) for every neighbour that
// is exactly 255.
extern const uint8_t ThinningTable[256];

// Thins plane (width x height, ridge 0, background 255) in place. Each
// iteration is a horizontal then a vertical pass; a pass deletes, in scan
// order and seeing its own earlier deletions, every ridge pixel beside the
// background in the pass direction whose code the table marks, and skips the
// pixel after each deletion. Repeats until an iteration deletes nothing.
// scratchPlane of ws serves as working memory and holds a copy of the
// skeleton on return. A plane that is scratchPlane itself, or a size outside
// 1..640 x 1..480, is left alone.
void thinImage(Workspace& ws, uint8_t* plane, int32_t width, int32_t height);

// thinImage on imagePlane.
void thinRidges(Workspace& ws);

}  // namespace orvane
