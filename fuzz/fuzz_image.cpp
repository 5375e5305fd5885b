// Hostile image files through the command-line tool's decoding path (BMP,
// PNG, JPEG, PGM, TIFF, GIF), with and without taking the centre of a large
// image. Only clear refusals (CliError) may come out.
#include <cstdint>

#include "fuzz_support.h"
#include "tools/common.h"
#include "tools/image_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = writeFuzzFile(data, size);
    if (!path) return 0;
    for (const bool crop : {false, true}) {
        try {
            const orvane::cli::GreyImage image = orvane::cli::loadGreyImage(path, crop);
            if (image.pixels.size() != size_t(image.width) * size_t(image.height)) __builtin_trap();
        } catch (const orvane::cli::CliError&) {
        }
    }
    return 0;
}
