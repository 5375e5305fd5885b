#include "workspace/workspace.h"

#include <cstring>

#include "formats/bitmap.h"

namespace orvane {

namespace {
bool fitsWorkspace(int32_t width, int32_t height) {
    return width >= 1 && height >= 1 && width <= kMaxWidth && height <= kMaxHeight;
}

Workspace g_libraryWorkspace;
}  // namespace

Workspace& libraryWorkspace() { return g_libraryWorkspace; }

int32_t setWorkspaceImage(Workspace& ws, const uint8_t* image, int32_t width, int32_t height) {
    if (!image || !fitsWorkspace(width, height)) return 1;
    ws.width = width;
    ws.height = height;
    ws.pixelCount = width * height;
    std::memcpy(ws.imagePlane, image, static_cast<size_t>(ws.pixelCount));
    return 0;
}

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
