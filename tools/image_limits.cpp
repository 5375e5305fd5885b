#include "image_limits.h"

#include "common.h"

namespace orvane::cli {

void checkImageSize(const std::string& path, int64_t width, int64_t height) {
    if (width < 1 || height < 1) throw CliError(path + ": image has no pixels");
    if (width > kMaxImagePixels / height) {
        throw CliError(path + ": image of " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels is far too large (at most " + std::to_string(kMaxImagePixels) + " pixels are read)");
    }
}

}  // namespace orvane::cli
