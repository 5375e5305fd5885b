// Straightforward transcriptions of the enhancement stages, one loop per
// rule, kept as the yardstick for the optimised library stages.
#pragma once

#include <cstdint>

#include "workspace/workspace.h"

namespace orvane::reference {

void boxMean(Workspace& ws, const uint8_t* source, uint8_t* destination, int32_t radius, int32_t sampling);
void halveImage(Workspace& ws);
void smoothAndHalve(Workspace& ws);
void computeOrientationField(Workspace& ws, int32_t radius);
int32_t segmentForeground(Workspace& ws, int32_t radius, int32_t threshold);
void applyMask(Workspace& ws);
void filterAlongRidges(Workspace& ws);
void binarizeRidges(Workspace& ws);
void removeBinaryNoise(Workspace& ws);
int32_t measureQuality(Workspace& ws, const uint8_t* image, int32_t width, int32_t height, int32_t* quality);

}  // namespace orvane::reference
