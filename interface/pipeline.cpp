#include "core/parameters.h"
#include "enhance/enhance.h"
#include "interface/extraction.h"
#include "interface/result_codes.h"
#include "minutiae/cleanup.h"
#include "minutiae/detection.h"
#include "minutiae/thinning.h"

namespace orvane {

namespace {

inline void showStage(StageObserver* observer, const char* name, const uint8_t* plane, const Workspace& ws) {
    if (observer) observer->stageImage(name, plane, ws.width, ws.height);
}
}  // namespace

int32_t runExtractionPipeline(Workspace& ws, StageObserver* observer) {
    smoothAndHalve(ws);
    computeOrientationField(ws, kOrientationRadius);
    showStage(observer, "0", ws.orientationPlane, ws);
    if (segmentForeground(ws, kSegmentationRadius, kSegmentationThreshold) != 0) return ORVANE_E_EXTRACTION;
    showStage(observer, "00", ws.maskPlane, ws);
    filterAlongRidges(ws);
    showStage(observer, "1", ws.imagePlane, ws);
    binarizeRidges(ws);
    showStage(observer, "2", ws.imagePlane, ws);
    removeBinaryNoise(ws);
    showStage(observer, "3", ws.imagePlane, ws);
    applyMask(ws);
    showStage(observer, "4", ws.imagePlane, ws);
    thinRidges(ws);
    cleanSkeleton(ws, kMaxPieceLength);
    showStage(observer, "5", ws.imagePlane, ws);
    if (detectMinutiae(ws) != 0) return ORVANE_E_EXTRACTION;
    return ORVANE_OK;
}

}  // namespace orvane
