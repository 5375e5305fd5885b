// The stages of an extraction as data: their order, their readable names,
// and the plane an observer is shown after each.
//
// What the planes hold after each stage ("-" unchanged):
//
//   stage             imagePlane          orientationPlane    maskPlane           scratchPlane
//   SmoothAndHalve    image smoothed      -                   -                   half image
//                     twice
//   OrientationField  -                   OrientationCodes    gradient strength   -
//                                         (2 x 2 blocks)
//   Segmentation      -                   -                   mask (0 print,      box mean of the
//                                                             255 background)     gradient strength
//   RidgeFilter       filtered grey       -                   -                   means along the
//                     image                                                       ridges
//   Binarization      ridge image (0      -                   -                   copy of the ridge
//                     ridge, 255 not)                                             image
//   NoiseRemoval      ridge image         -                   -                   last pass's output
//                     without noise
//   Masking           background          background          -                   -
//                     whitened            whitened (255)
//   Thinning          skeleton            -                   -                   thinning's bit lines
//                                                                                 while it runs, then
//                                                                                 a skeleton copy
//   SkeletonCleanup   cleaned skeleton    -                   -                   -
//   MinutiaDetection  - (ws.extractedSet holds the minutiae)
#pragma once

#include <cstdint>

#include "workspace/workspace.h"

namespace orvane {

enum class Stage : int32_t {
    kSmoothAndHalve,
    kOrientationField,
    kSegmentation,
    kRidgeFilter,
    kBinarization,
    kNoiseRemoval,
    kMasking,
    kThinning,
    kSkeletonCleanup,
    kMinutiaDetection,
};

// Every stage, in the order the extraction runs them.
constexpr Stage kExtractionStages[] = {
    Stage::kSmoothAndHalve, Stage::kOrientationField, Stage::kSegmentation, Stage::kRidgeFilter,
    Stage::kBinarization,   Stage::kNoiseRemoval,     Stage::kMasking,      Stage::kThinning,
    Stage::kSkeletonCleanup, Stage::kMinutiaDetection,
};
constexpr int32_t kStageCount = static_cast<int32_t>(sizeof kExtractionStages / sizeof kExtractionStages[0]);

// The stage's readable name ("smoothAndHalve", "orientationField", ...).
const char* stageName(Stage stage);

// Runs one stage on ws with the extraction's parameters. Only segmentation
// and minutia detection can fail; the other stages always complete.
StageResult runStage(Workspace& ws, Stage stage);

// The plane shown to an observer after the stage, or null for the stages that
// show none (smoothing, thinning, detection).
const uint8_t* stagePlane(const Workspace& ws, Stage stage);

}  // namespace orvane
