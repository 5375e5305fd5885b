// The image enhancement stages. Each works in place on the planes of the
// workspace it is given and takes the image size from it.
#pragma once

#include <cstdint>

#include "workspace/workspace.h"

namespace orvane {

// Mean over a (2r+1) x (2r+1) window (every second sample when sampling is
// 2); samples outside the image are skipped. source and destination are
// distinct planes of ws.
void boxMean(Workspace& ws, const uint8_t* source, uint8_t* destination, int32_t radius, int32_t sampling);

// Two 3 x 3 mean passes over imagePlane (each through scratchPlane and copied
// back), then halveImage: the common front of extraction and quality.
void smoothAndHalve(Workspace& ws);

// Half-resolution image of imagePlane into the start of scratchPlane.
void halveImage(Workspace& ws);

// Gradient strength into maskPlane and OrientationCodes into orientationPlane,
// from the half-resolution image in scratchPlane.
void computeOrientationField(Workspace& ws, int32_t radius);

// Turns the gradient strength in maskPlane into the foreground mask (0
// foreground, 255 background). Fails when fewer than pixelCount /
// kForegroundShareDivisor pixels are foreground (the mask is complete
// either way).
StageResult segmentForeground(Workspace& ws, int32_t radius, int32_t threshold);

// Whitens the background (mask 255) in imagePlane and orientationPlane.
void applyMask(Workspace& ws);

// Directional filtering of imagePlane along the local ridge direction.
void filterAlongRidges(Workspace& ws);

// Two-level ridge image (0 ridge, 255 background) in imagePlane.
void binarizeRidges(Workspace& ws);

// Removes stray pixels and one-pixel tips from the ridge image.
void removeBinaryNoise(Workspace& ws);

}  // namespace orvane
