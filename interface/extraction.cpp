#include "interface/extraction.h"

#include "formats/feature_template.h"

namespace orvane {

namespace {
constexpr int32_t kNoTemplate = 10600;

int32_t runAndPack(Workspace& ws, uint8_t* featureTemplate, int32_t* length, StageObserver* observer) {
    const int32_t result = runExtractionPipeline(ws, observer);
    if (result != 0) return result;
    if (!featureTemplate || !length) return kNoTemplate;
    const int32_t packed = packTemplate(&ws.extractedSet, featureTemplate);
    if (packed == 0) return kNoTemplate;
    *length = packed;
    return 0;
}
}  // namespace

int32_t extractTemplate(Workspace& ws, const uint8_t* image, int32_t width, int32_t height,
                        uint8_t* featureTemplate, int32_t* length, StageObserver* observer) {
    const int32_t placed = setWorkspaceImage(ws, image, width, height);
    if (placed != 0) return placed;
    return runAndPack(ws, featureTemplate, length, observer);
}

int32_t extractTemplateFromFile(Workspace& ws, const char* path, uint8_t* featureTemplate, int32_t* length,
                                StageObserver* observer) {
    const int32_t placed = loadWorkspaceImage(ws, path);
    if (placed != 0) return placed;
    return runAndPack(ws, featureTemplate, length, observer);
}

}  // namespace orvane
