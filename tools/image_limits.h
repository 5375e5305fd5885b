// The largest picture the tool agrees to decode. Every decoding path reads
// the size from the file's header and calls checkImageSize before it
// allocates anything for the pixels, so a small file that claims a huge
// picture is refused at once instead of exhausting memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvane::cli {

// 4096 x 4096: a full ten-print card at 500 dpi fits, while the decoders'
// working memory (up to 8 bytes a pixel for 16-bit colour) stays near 128 MiB.
// The fuzz build sets a lower limit, so that a hostile header costs less
// memory per input while the same checks run.
#ifdef ORVANE_CLI_MAX_IMAGE_PIXELS
constexpr int64_t kMaxImagePixels = ORVANE_CLI_MAX_IMAGE_PIXELS;
#else
constexpr int64_t kMaxImagePixels = 4096LL * 4096;
#endif

// Throws CliError for a size below 1 x 1 or over kMaxImagePixels.
void checkImageSize(const std::string& path, int64_t width, int64_t height);

// Throws CliError for a JPEG file (bytes starting FF D8) with a Huffman table
// of more than 256 codes: the packaged decoder writes such a table past the
// end of its arrays instead of refusing it; and one with a scan that uses a
// Huffman table not defined before it (the decoder would read memory it never
// set). Other files pass unchecked.
void checkJpegTables(const std::string& path, const uint8_t* bytes, size_t size);

// Throws CliError for a PNG file with an image data chunk whose length is
// more than the bytes left in the file: the packaged decoder grows its buffer
// to the claimed length before it reads the chunk, so a file of a hundred
// bytes could make it ask for gigabytes. Other files pass unchecked.
void checkPngChunks(const std::string& path, const uint8_t* bytes, size_t size);

// Throws CliError for a binary PGM or PPM file (bytes starting P5 or P6)
// whose width or height is over kMaxImagePixels or whose largest value is
// over 65535: the packaged decoder adds up the digits in an int without
// checking, so a longer number wraps round to a wrong size. Also refuses a
// 16-bit PPM (P6 with a largest value over 255), which the decoder reads past
// the end of its buffer when it turns it to grey. Other files pass.
void checkPnmHeader(const std::string& path, const uint8_t* bytes, size_t size);

}  // namespace orvane::cli
