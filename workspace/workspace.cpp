#include "workspace/workspace.h"

#include <cstring>

namespace orvane {

namespace {
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

}  // namespace orvane
