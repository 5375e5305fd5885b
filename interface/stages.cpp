#include "interface/stages.h"

#include "core/parameters.h"
#include "enhance/enhance.h"
#include "minutiae/cleanup.h"
#include "minutiae/detection.h"
#include "minutiae/thinning.h"

namespace orvane {

const char* stageName(Stage stage) {
    switch (stage) {
        case Stage::kSmoothAndHalve: return "smoothAndHalve";
        case Stage::kOrientationField: return "orientationField";
        case Stage::kSegmentation: return "segmentation";
        case Stage::kRidgeFilter: return "ridgeFilter";
        case Stage::kBinarization: return "binarization";
        case Stage::kNoiseRemoval: return "noiseRemoval";
        case Stage::kMasking: return "masking";
        case Stage::kThinning: return "thinning";
        case Stage::kSkeletonCleanup: return "skeletonCleanup";
        case Stage::kMinutiaDetection: return "minutiaDetection";
    }
    return "unknown";
}

StageResult runStage(Workspace& ws, Stage stage) {
    switch (stage) {
        case Stage::kSmoothAndHalve: smoothAndHalve(ws); break;
        case Stage::kOrientationField: computeOrientationField(ws, kOrientationRadius); break;
        case Stage::kSegmentation: return segmentForeground(ws, kSegmentationRadius, kSegmentationThreshold);
        case Stage::kRidgeFilter: filterAlongRidges(ws); break;
        case Stage::kBinarization: binarizeRidges(ws); break;
        case Stage::kNoiseRemoval: removeBinaryNoise(ws); break;
        case Stage::kMasking: applyMask(ws); break;
        case Stage::kThinning: thinRidges(ws); break;
        case Stage::kSkeletonCleanup: cleanSkeleton(ws, kMaxPieceLength); break;
        case Stage::kMinutiaDetection: return detectMinutiae(ws);
    }
    return kStageCompleted;
}

const uint8_t* stagePlane(const Workspace& ws, Stage stage) {
    switch (stage) {
        case Stage::kOrientationField: return ws.orientationPlane;
        case Stage::kSegmentation: return ws.maskPlane;
        case Stage::kRidgeFilter:
        case Stage::kBinarization:
        case Stage::kNoiseRemoval:
        case Stage::kMasking:
        case Stage::kSkeletonCleanup: return ws.imagePlane;
        case Stage::kSmoothAndHalve:
        case Stage::kThinning:
        case Stage::kMinutiaDetection: return nullptr;
    }
    return nullptr;
}

}  // namespace orvane
