// Hostile bitmap files through LoadFinger, the workspace loader and ExtractEx.
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "interface/extraction.h"
#include "interface/image_file.h"
#include "orvane.h"
#include "workspace/workspace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<orvane::Workspace> ws(new orvane::Workspace());
    const char* path = writeFuzzFile(data, size);
    if (!path) return 0;
    int32_t width = -1, height = -1;
    if (LoadFinger(path, nullptr, &width, &height) == 0 && int64_t(width) * height <= 4 * 1024 * 1024) {
        // Exactly the size the file declares, so any overrun is caught.
        std::vector<uint8_t> image(size_t(width) * size_t(height));
        LoadFinger(path, image.data(), &width, &height);
    }
    orvane::loadWorkspaceImage(*ws, path);
    if (size % 7 == 0) {  // the whole extraction now and then
        uint8_t featureTemplate[ORVANE_MAX_TEMPLATE_BYTES];
        int32_t length = 0;
        orvane::extractTemplateFromFile(*ws, path, featureTemplate, &length, nullptr);
    }
    return 0;
}
