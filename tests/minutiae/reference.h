// Straightforward transcriptions of the skeleton stages, kept to check the
// library's faster versions against.
#pragma once

#include <cstdint>

#include "workspace/workspace.h"

namespace orvane::reference {

// Thinning exactly as described: full scans, a working copy in scratchPlane
// written beside the plane, the plane read while it changes.
void thinImage(Workspace& ws, uint8_t* plane, int32_t width, int32_t height);

// Clean-up as a plain raster pass over every interior pixel.
void cleanSkeleton(Workspace& ws, int32_t maxPieceLength);

// Detection with the candidate lists handled literally: every trace, junction
// cut and description is done again where the steps call for it.
int32_t detectMinutiae(Workspace& ws);

}  // namespace orvane::reference
