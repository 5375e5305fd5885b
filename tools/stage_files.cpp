#include "stage_files.h"

#include <filesystem>

#include "common.h"
#include "image_input.h"
#include "interface/diagnostics.h"

namespace orvane::cli {

void StageImageFiles::stageImage(Stage stage, const uint8_t* plane, int32_t width, int32_t height) {
    // Called from inside the extraction, which must not be unwound: a failure
    // is kept and thrown once the extraction is over.
    const char* name = diagnosticFileName(stage);
    if (!failure_.empty() || !name) return;
    GreyImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(plane, plane + static_cast<size_t>(width) * static_cast<size_t>(height));
    try {
        saveGreyBitmap((std::filesystem::path(folder_) / (std::string(name) + ".bmp")).string(), image);
    } catch (const CliError& e) {
        failure_ = e.what();
    }
}

void StageImageFiles::throwIfFailed() const {
    if (!failure_.empty()) throw CliError(failure_);
}

}  // namespace orvane::cli
