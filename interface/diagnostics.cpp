#include "interface/diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formats/bitmap.h"

namespace orvane {

const char* diagnosticFileName(Stage stage) {
    switch (stage) {
        case Stage::kOrientationField: return "0";
        case Stage::kSegmentation: return "00";
        case Stage::kRidgeFilter: return "1";
        case Stage::kBinarization: return "2";
        case Stage::kNoiseRemoval: return "3";
        case Stage::kMasking: return "4";
        case Stage::kSkeletonCleanup: return "5";
        case Stage::kSmoothAndHalve:
        case Stage::kThinning:
        case Stage::kMinutiaDetection: return nullptr;
    }
    return nullptr;
}

DiagnosticFileWriter::DiagnosticFileWriter(const char* directory) {
    directory_[0] = '\0';
    if (directory && std::strlen(directory) < sizeof directory_ - 16) std::strcpy(directory_, directory);
}

void DiagnosticFileWriter::stageImage(Stage stage, const uint8_t* plane, int32_t width, int32_t height) {
    const char* name = diagnosticFileName(stage);
    if (directory_[0] == '\0' || !name) return;
    char path[sizeof directory_ + 16];
#if defined(_WIN32)
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    const size_t n = std::strlen(directory_);
    const bool hasSeparator = directory_[n - 1] == '/' || directory_[n - 1] == '\\';
    std::snprintf(path, sizeof path, "%s%s%s.bmp", directory_, hasSeparator ? "" : (separator == '/' ? "/" : "\\"),
                  name);
    writeBitmap(plane, width, height, path);
}

DiagnosticFileWriter* DiagnosticFileWriter::forExports() {
#if defined(_WIN32)
    static DiagnosticFileWriter writer("c:\\");
    return &writer;
#else
    // Looked up on every extraction, so the variable may change between calls.
    static DiagnosticFileWriter writer(nullptr);
    const char* dir = std::getenv("ORVANE_DEBUG_DIR");
    if (!dir || !*dir) return nullptr;
    writer = DiagnosticFileWriter(dir);
    return &writer;
#endif
}

}  // namespace orvane
