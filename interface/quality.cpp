#include <cstring>

#include "core/parameters.h"
#include "enhance/enhance.h"
#include "interface/extraction.h"
#include "interface/result_codes.h"
#include "core/numeric.h"

namespace orvane {

// The front of the extraction as far as the foreground mask; the share of
// the frame that is foreground, scaled so that kFullQualityShare scores 100.
int32_t measureQuality(Workspace& ws, const uint8_t* image, int32_t width, int32_t height, int32_t* quality) {
    if (!quality) return ORVANE_E_IMAGE_SIZE;
    const int32_t placed = placementCode(setWorkspaceImage(ws, image, width, height));
    if (placed != ORVANE_OK) return placed;
    smoothAndHalve(ws);
    computeOrientationField(ws, kOrientationRadius);
    // Too little foreground is no failure here: it just scores low.
    static_cast<void>(segmentForeground(ws, kSegmentationRadius, kQualityThreshold));

    int32_t foreground = 0;
    for (int32_t i = 0; i < ws.pixelCount; ++i) foreground += ws.maskPlane[i] != 255;
    const double score =
        static_cast<double>(foreground * 100) / (static_cast<double>(ws.pixelCount) * kFullQualityShare);
    const int32_t rounded = roundHalfUp(score);
    *quality = rounded > 100 ? 100 : rounded;
    return ORVANE_OK;
}

}  // namespace orvane
