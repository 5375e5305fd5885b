// Uncompressed 8-bit grey bitmap files.
#pragma once

#include <cstdint>

namespace orvane {

constexpr int32_t kBitmapPixelOffset = 1078;  // 14 + 40 + 1024

// Reads path into buffer (width x height bytes, rows in stored order), or only
// the size when buffer is null. Returns 0, 1 (cannot open), 2 (not "BM") or
// 3 (refused: neither 8 bits per pixel nor 256 colours, a size below 1, a size
// whose offsets overflow, or a file cut short). Width and height are stored
// only on success; on failure the buffer may hold part of the rows.
int32_t readBitmap(const char* path, uint8_t* buffer, int32_t* width, int32_t* height);

// As readBitmap, but also refuses (3) a width over maxWidth or a height over
// maxHeight, tested on the same open file before any pixel is read.
int32_t readBitmapWithin(const char* path, uint8_t* buffer, int32_t maxWidth, int32_t maxHeight, int32_t* width,
                         int32_t* height);

// Writes a width x height grey image with a grey-ramp palette; fill bytes are
// zero. Returns 0, or 1 when the file cannot be created or completely written
// (a partly written file is removed), or the size is below 1 or too large to
// describe in the headers.
int32_t writeBitmap(const uint8_t* image, int32_t width, int32_t height, const char* path);

// Row length in the file: width rounded up to a multiple of 4.
inline int64_t bitmapStride(int32_t width) { return (static_cast<int64_t>(width) + 3) / 4 * 4; }

}  // namespace orvane
