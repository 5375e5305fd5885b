#include "interface/image_file.h"

#include <cstring>

#include "formats/bitmap.h"

namespace orvane {

int32_t loadWorkspaceImage(Workspace& ws, const char* path) {
    int32_t width = 0, height = 0;
    if (readBitmap(path, nullptr, &width, &height) != 0) return 1;
    if (!fitsWorkspace(width, height)) return 1;
    // The file is opened again and may have changed in between: the second
    // read tests its own size before it reads a pixel, and goes through
    // scratchPlane so that a refused file leaves the current image intact.
    if (readBitmapWithin(path, ws.scratchPlane, kMaxWidth, kMaxHeight, &width, &height) != 0) return 1;
    ws.width = width;
    ws.height = height;
    ws.pixelCount = width * height;
    std::memcpy(ws.imagePlane, ws.scratchPlane, static_cast<size_t>(ws.pixelCount));
    return 0;
}

}  // namespace orvane
