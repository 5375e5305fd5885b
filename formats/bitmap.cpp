#include "formats/bitmap.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "formats/unfinished_file.h"

namespace orvane {

namespace {

constexpr int kHeaderBytes = 54;
constexpr int kPaletteBytes = 1024;
constexpr int64_t kMaxFileOffset = std::numeric_limits<int32_t>::max();

int32_t readLe32(const uint8_t* p) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return static_cast<int32_t>(v);
}
uint16_t readLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void writeLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void writeLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// The file offset just past the last pixel row must fit in 32 bits, as must
// width x height, so that every offset and buffer index stays exact.
bool sizeIsUsable(int32_t width, int32_t height) {
    if (width < 1 || height < 1) return false;
    if (int64_t(width) * height > kMaxFileOffset) return false;
    return kBitmapPixelOffset + bitmapStride(width) * height <= kMaxFileOffset;
}

struct File {
    std::FILE* f;
    ~File() {
        if (f) std::fclose(f);
    }
};

}  // namespace

int32_t readBitmap(const char* path, uint8_t* buffer, int32_t* width, int32_t* height) {
    const int32_t unlimited = std::numeric_limits<int32_t>::max();
    return readBitmapWithin(path, buffer, unlimited, unlimited, width, height);
}

int32_t readBitmapWithin(const char* path, uint8_t* buffer, int32_t maxWidth, int32_t maxHeight, int32_t* width,
                         int32_t* height) {
    if (!path) return 1;
    File file{std::fopen(path, "rb")};
    if (!file.f) return 1;

    uint8_t header[kHeaderBytes];
    if (std::fread(header, 1, kHeaderBytes, file.f) != kHeaderBytes) return 3;
    if (header[0] != 'B' || header[1] != 'M') return 2;
    const uint16_t bitsPerPixel = readLe16(header + 28);
    const int32_t coloursUsed = readLe32(header + 46);
    if (bitsPerPixel != 8 && coloursUsed != 256) return 3;

    const int32_t w = readLe32(header + 18);
    const int32_t h = readLe32(header + 22);
    if (!sizeIsUsable(w, h) || w > maxWidth || h > maxHeight) return 3;

    if (buffer) {
        // The palette is never consulted; pixel rows always start at 1078.
        // A file too short for its rows is refused before any pixel is
        // placed; only the fill bytes of the last row may be missing.
        const int64_t stride = bitmapStride(w);
        if (std::fseek(file.f, 0, SEEK_END) != 0) return 3;
        const long fileSize = std::ftell(file.f);
        if (fileSize < 0 || fileSize < kBitmapPixelOffset + (int64_t(h) - 1) * stride + w) return 3;
        for (int32_t r = 0; r < h; ++r) {
            const long offset = static_cast<long>(kBitmapPixelOffset + int64_t(r) * stride);
            if (std::fseek(file.f, offset, SEEK_SET) != 0) return 3;
            uint8_t* row = buffer + int64_t(r) * w;
            if (std::fread(row, 1, static_cast<size_t>(w), file.f) != static_cast<size_t>(w)) return 3;
        }
    }
    if (width) *width = w;
    if (height) *height = h;
    return 0;
}

int32_t writeBitmap(const uint8_t* image, int32_t width, int32_t height, const char* path) {
    if (!path || !image || !sizeIsUsable(width, height)) return 1;
    const int64_t stride = bitmapStride(width);
    const uint32_t pixelBytes = static_cast<uint32_t>(stride * height);

    uint8_t head[kHeaderBytes + kPaletteBytes] = {};
    head[0] = 'B';
    head[1] = 'M';
    writeLe32(head + 2, uint32_t(kBitmapPixelOffset) + pixelBytes);
    writeLe32(head + 10, kBitmapPixelOffset);
    writeLe32(head + 14, 40);
    writeLe32(head + 18, static_cast<uint32_t>(width));
    writeLe32(head + 22, static_cast<uint32_t>(height));
    writeLe16(head + 26, 1);
    writeLe16(head + 28, 8);
    writeLe32(head + 34, pixelBytes);
    writeLe32(head + 46, 256);
    for (int i = 0; i < 256; ++i) {
        uint8_t* entry = head + kHeaderBytes + 4 * i;
        entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
    }

    std::FILE* f = std::fopen(path, "wb");
    if (!f) return 1;
    bool written = std::fwrite(head, 1, sizeof head, f) == sizeof head;
    const uint8_t fill[3] = {0, 0, 0};
    const size_t fillBytes = static_cast<size_t>(stride - width);
    for (int32_t r = 0; r < height && written; ++r) {
        written = std::fwrite(image + int64_t(r) * width, 1, static_cast<size_t>(width), f) == size_t(width) &&
                  (fillBytes == 0 || std::fwrite(fill, 1, fillBytes, f) == fillBytes);
    }
    // A full disk often shows only when the buffered tail is flushed.
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return 0;
    removeUnfinishedFile(path);
    return 1;
}

}  // namespace orvane
