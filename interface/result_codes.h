// The exports' result codes for the failures of the layers below. Those
// layers report their own small status values (0 for success); only the
// interface knows the ORVANE_E_* codes, and this header is where each status
// becomes one.
#pragma once

#include <cstdint>

#include "orvane.h"

namespace orvane {

// setWorkspaceImage: the size is over the limits or below 1.
inline int32_t placementCode(int32_t status) { return status == 0 ? ORVANE_OK : ORVANE_E_IMAGE_SIZE; }

// Reading a bitmap file (readBitmap, loadWorkspaceImage): any failure.
inline int32_t bitmapReadCode(int32_t status) { return status == 0 ? ORVANE_OK : ORVANE_E_LOAD_IMAGE; }

// writeBitmap: the file cannot be created or completely written.
inline int32_t bitmapWriteCode(int32_t status) { return status == 0 ? ORVANE_OK : ORVANE_E_SAVE_IMAGE; }

// saveTemplateFile: a damaged template, or the file cannot be written.
inline int32_t templateWriteCode(int32_t status) { return status == 0 ? ORVANE_OK : ORVANE_E_SAVE_TEMPLATE; }

// loadTemplateFile: the file cannot be read or is damaged.
inline int32_t templateReadCode(int32_t status) { return status == 0 ? ORVANE_OK : ORVANE_E_LOAD_TEMPLATE; }

// verifyTemplates: a template is null or damaged.
inline int32_t matchCode(int32_t status) { return status == 0 ? ORVANE_OK : ORVANE_E_BAD_TEMPLATE; }

}  // namespace orvane
