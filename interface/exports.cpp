// The eight exported functions. Each is a thin frame over the drivers of its
// subsystem; the three image exports work in the library's one workspace.
#include "orvane.h"

#include "formats/bitmap.h"
#include "formats/feature_template.h"
#include "interface/diagnostics.h"
#include "interface/extraction.h"
#include "interface/result_codes.h"
#include "match/matcher.h"
#include "workspace/workspace.h"

using namespace orvane;

// The published limits are those the layers below are built for.
static_assert(kMaxWidth == ORVANE_MAX_WIDTH && kMaxHeight == ORVANE_MAX_HEIGHT, "image size limits differ");
static_assert(kMaxMinutiae == ORVANE_MAX_MINUTIAE, "minutia limits differ");
static_assert(kMaxTemplateBytes == ORVANE_MAX_TEMPLATE_BYTES, "template size limits differ");

extern "C" {

ORVANE_API int32_t ORVANE_CALL Extract(int32_t width, int32_t height, const uint8_t* image, int32_t /*reserved*/,
                                       uint8_t* featureTemplate, int32_t* length) {
    return extractTemplate(libraryWorkspace(), image, width, height, featureTemplate, length,
                           DiagnosticFileWriter::forExports());
}

ORVANE_API int32_t ORVANE_CALL ExtractEx(const char* path, int32_t /*reserved*/, uint8_t* featureTemplate,
                                         int32_t* length) {
    return extractTemplateFromFile(libraryWorkspace(), path, featureTemplate, length,
                                   DiagnosticFileWriter::forExports());
}

ORVANE_API int32_t ORVANE_CALL GetQuality(const uint8_t* image, int32_t width, int32_t height, int32_t* quality) {
    return measureQuality(libraryWorkspace(), image, width, height, quality);
}

ORVANE_API int32_t ORVANE_CALL VerifyMatch(const uint8_t* template1, const uint8_t* template2, int32_t* score,
                                           int32_t flag) {
    return matchCode(verifyTemplates(template1, template2, score, flag));
}

ORVANE_API int32_t ORVANE_CALL SaveFeature(const char* path, const uint8_t* featureTemplate) {
    return templateWriteCode(saveTemplateFile(path, featureTemplate));
}

ORVANE_API int32_t ORVANE_CALL LoadFeature(const char* path, uint8_t* featureTemplate) {
    return templateReadCode(loadTemplateFile(path, featureTemplate));
}

ORVANE_API int32_t ORVANE_CALL LoadFinger(const char* path, uint8_t* image, int32_t* width, int32_t* height) {
    if (!width || !height) return ORVANE_E_LOAD_IMAGE;
    return bitmapReadCode(readBitmap(path, image, width, height));
}

ORVANE_API int32_t ORVANE_CALL SaveFinger(const char* path, const uint8_t* image, int32_t width, int32_t height) {
    return bitmapWriteCode(writeBitmap(image, width, height, path));
}

}  // extern "C"
