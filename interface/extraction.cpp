#include "interface/extraction.h"

#include "formats/feature_template.h"
#include "interface/image_file.h"
#include "interface/result_codes.h"

namespace orvane {

namespace {

int32_t runAndPack(Workspace& ws, uint8_t* featureTemplate, int32_t* length, StageObserver* observer) {
    const int32_t result = runExtractionPipeline(ws, observer);
    if (result != ORVANE_OK) return result;
    if (!featureTemplate || !length) return ORVANE_E_NO_TEMPLATE;
    const int32_t packed = packTemplate(&ws.extractedSet, featureTemplate);
    if (packed == 0) return ORVANE_E_NO_TEMPLATE;
    *length = packed;
    return ORVANE_OK;
}
}  // namespace

int32_t extractTemplate(Workspace& ws, const uint8_t* image, int32_t width, int32_t height,
                        uint8_t* featureTemplate, int32_t* length, StageObserver* observer) {
    const int32_t placed = placementCode(setWorkspaceImage(ws, image, width, height));
    if (placed != ORVANE_OK) return placed;
    return runAndPack(ws, featureTemplate, length, observer);
}

int32_t extractTemplateFromFile(Workspace& ws, const char* path, uint8_t* featureTemplate, int32_t* length,
                                StageObserver* observer) {
    const int32_t placed = bitmapReadCode(loadWorkspaceImage(ws, path));
    if (placed != ORVANE_OK) return placed;
    return runAndPack(ws, featureTemplate, length, observer);
}

}  // namespace orvane
