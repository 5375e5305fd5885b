// The extraction and quality drivers over an explicit workspace. The exports
// run them on libraryWorkspace(); batch tools give each thread a workspace of
// its own and get the same templates.
#pragma once

#include <cstdint>

#include "interface/observer.h"
#include "workspace/workspace.h"

namespace orvane {

// Turns the image in ws into ws.extractedSet. Returns ORVANE_OK, or
// ORVANE_E_EXTRACTION when the
// print has too little foreground or minutia detection fails. Stage images go
// to observer when it is not null.
int32_t runExtractionPipeline(Workspace& ws, StageObserver* observer);

// Extract: place the image, run the pipeline, pack the template. Codes as the
// export (ORVANE_OK, ORVANE_E_IMAGE_SIZE, ORVANE_E_EXTRACTION,
// ORVANE_E_NO_TEMPLATE).
int32_t extractTemplate(Workspace& ws, const uint8_t* image, int32_t width, int32_t height,
                        uint8_t* featureTemplate, int32_t* length, StageObserver* observer);

// ExtractEx: as extractTemplate from a bitmap file, ORVANE_E_LOAD_IMAGE in
// place of ORVANE_E_IMAGE_SIZE.
int32_t extractTemplateFromFile(Workspace& ws, const char* path, uint8_t* featureTemplate, int32_t* length,
                                StageObserver* observer);

// GetQuality over ws: ORVANE_OK (quality written) or ORVANE_E_IMAGE_SIZE.
int32_t measureQuality(Workspace& ws, const uint8_t* image, int32_t width, int32_t height, int32_t* quality);

}  // namespace orvane
