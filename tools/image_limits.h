// The largest picture the tool agrees to decode. Every decoding path reads
// the size from the file's header and calls checkImageSize before it
// allocates anything for the pixels, so a small file that claims a huge
// picture is refused at once instead of exhausting memory.
#pragma once

#include <cstdint>
#include <string>

namespace orvane::cli {

// 4096 x 4096: a full ten-print card at 500 dpi fits, while the decoders'
// working memory (up to 8 bytes a pixel for 16-bit colour) stays near 128 MiB.
constexpr int64_t kMaxImagePixels = 4096LL * 4096;

// Throws CliError for a size below 1 x 1 or over kMaxImagePixels.
void checkImageSize(const std::string& path, int64_t width, int64_t height);

}  // namespace orvane::cli
