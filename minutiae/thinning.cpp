#include "minutiae/thinning.h"

#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define ORVANE_THIN_SSE2 1
#endif

namespace orvane {

const uint8_t ThinningTable[256] = {
    0, 0, 1, 1, 0, 0, 1, 1, 1, 1, 0, 1, 1, 1, 0, 1,  // 0..15
    1, 1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1,  // 16..31
    0, 0, 1, 1, 0, 0, 1, 1, 1, 1, 0, 1, 1, 1, 0, 1,  // 32..47
    1, 1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1,  // 48..63
    1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 64..79
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 80..95
    1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 1,  // 96..111
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 112..127
    0, 0, 1, 1, 0, 0, 1, 1, 1, 1, 0, 1, 1, 1, 0, 1,  // 128..143
    1, 1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1,  // 144..159
    0, 0, 1, 1, 0, 0, 1, 1, 1, 1, 0, 1, 1, 1, 0, 1,  // 160..175
    1, 1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0,  // 176..191
    1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 192..207
    1, 1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0,  // 208..223
    1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0,  // 224..239
    1, 1, 0, 0, 1, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0,  // 240..255
};

namespace {

constexpr int32_t kRowWords = (kMaxWidth + 63) / 64;
constexpr int32_t kColumnWords = (kMaxHeight + 63) / 64;

inline uint32_t neighbourCode(const uint8_t* c, int32_t w) {
    return static_cast<uint32_t>(c[w - 1] == 255) | static_cast<uint32_t>(c[w] == 255) << 1 |
           static_cast<uint32_t>(c[w + 1] == 255) << 2 | static_cast<uint32_t>(c[-1] == 255) << 3 |
           static_cast<uint32_t>(c[1] == 255) << 4 | static_cast<uint32_t>(c[-w - 1] == 255) << 5 |
           static_cast<uint32_t>(c[-w] == 255) << 6 | static_cast<uint32_t>(c[1 - w] == 255) << 7;
}

inline int countTrailingZeros64(uint64_t v) { return __builtin_ctzll(v); }

// Bits of the 16 pixels from `row` that are exactly 0.
#if ORVANE_THIN_SSE2
inline uint64_t ridgeBits16(const uint8_t* row) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
}
#else
inline uint64_t ridgeBits16(const uint8_t* row) {
    uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) bits |= static_cast<uint64_t>(row[i] == 0) << i;
    return bits;
}
#endif

// The sequential scheme visits every pixel in every pass. A pixel whose 3 x 3
// neighbourhood has not changed since its last visit in a pass of the same
// direction gets the same answer as then: it is not deleted (a deleted pixel
// is background and no longer a candidate). So only pixels beside a change
// are visited again. The pending visits are kept as bits, by row for the
// horizontal passes and by column for the vertical ones; a deletion marks its
// neighbours that are not background in both. Marks for pixels still ahead in the current
// pass are picked up in this pass, marks behind it in the next one.
struct Thinner {
    uint8_t* plane;
    int32_t w;
    int32_t h;
    bool changed;
    uint64_t rowBits[kMaxHeight][kRowWords];
    uint64_t columnBits[kMaxWidth][kColumnWords];

    // Marks the neighbours of the deleted pixel (x, y) that are not
    // background (bit clear in its neighbour code): only they can be
    // candidates again.
    void markAround(int32_t x, int32_t y, uint32_t code) {
        // Neighbour code bits by row (weights 32, 64, 128 above; 8, 16 beside;
        // 1, 2, 4 below), turned into 3-bit masks from x - 1.
        const uint32_t above = ~((code >> 5) & 7u) & 7u;
        const uint32_t beside = ~(((code >> 3) & 1u) | ((code >> 4) & 1u) << 2) & 5u;
        const uint32_t below = ~(code & 7u) & 7u;
        const uint32_t rowMask[3] = {above, beside, below};
        const int32_t hx = x - 1;
        const int32_t hWord = hx >> 6, hShift = hx & 63;
        for (int32_t i = 0; i < 3; ++i) {
            const uint64_t m = rowMask[i];
            if (!m) continue;
            rowBits[y - 1 + i][hWord] |= m << hShift;
            if (hShift > 61) rowBits[y - 1 + i][hWord + 1] |= m >> (64 - hShift);
        }
        // The same by column: bit 0 is row y - 1.
        const uint32_t left = (above & 1u) | (beside & 1u) << 1 | (below & 1u) << 2;
        const uint32_t middle = (above >> 1 & 1u) | (below >> 1 & 1u) << 2;
        const uint32_t right = (above >> 2 & 1u) | (beside >> 2 & 1u) << 1 | (below >> 2 & 1u) << 2;
        const uint32_t columnMask[3] = {left, middle, right};
        const int32_t vy = y - 1;
        const int32_t vWord = vy >> 6, vShift = vy & 63;
        for (int32_t i = 0; i < 3; ++i) {
            const uint64_t m = columnMask[i];
            if (!m) continue;
            columnBits[x - 1 + i][vWord] |= m << vShift;
            if (vShift > 61) columnBits[x - 1 + i][vWord + 1] |= m >> (64 - vShift);
        }
    }

    void start() {
        std::memset(rowBits, 0, sizeof rowBits);
        std::memset(columnBits, 0, sizeof columnBits);
        for (int32_t y = 1; y <= h - 2; ++y) {
            const uint8_t* row = plane + y * w;
            int32_t x = 0;
            for (; x + 16 <= w; x += 16) rowBits[y][x >> 6] |= ridgeBits16(row + x) << (x & 63);
            for (; x < w; ++x) rowBits[y][x >> 6] |= static_cast<uint64_t>(row[x] == 0) << (x & 63);
            for (int32_t word = 0; word < kRowWords; ++word) {
                uint64_t bits = rowBits[y][word];
                while (bits) {
                    const int32_t xx = word * 64 + countTrailingZeros64(bits);
                    bits &= bits - 1;
                    columnBits[xx][y >> 6] |= uint64_t{1} << (y & 63);
                }
            }
        }
    }


    void horizontalPass() {
        const int32_t words = (w + 63) >> 6;
        for (int32_t y = 1; y <= h - 2; ++y) {
            uint8_t* row = plane + y * w;
            int32_t skip = -1;
            for (int32_t word = 0; word < words; ++word) {
                uint64_t bits = rowBits[y][word];
                if (!bits) continue;
                rowBits[y][word] = 0;
                while (bits) {
                    const int32_t x = word * 64 + countTrailingZeros64(bits);
                    bits &= bits - 1;
                    if (x < 1 || x > w - 2) continue;
                    if (x == skip) {
                        rowBits[y][word] |= uint64_t{1} << (x & 63);  // visited next pass
                        continue;
                    }
                    if (row[x] != 0 || (row[x - 1] != 255 && row[x + 1] != 255)) continue;
                    const uint32_t code = neighbourCode(row + x, w);
                    if (!ThinningTable[code]) continue;
                    row[x] = 255;
                    markAround(x, y, code);
                    changed = true;
                    skip = x + 1;
                }
            }
        }
    }

    void verticalPass() {
        const int32_t words = (h + 63) >> 6;
        for (int32_t x = 1; x <= w - 2; ++x) {
            int32_t skip = -1;
            for (int32_t word = 0; word < words; ++word) {
                uint64_t bits = columnBits[x][word];
                if (!bits) continue;
                columnBits[x][word] = 0;
                while (bits) {
                    const int32_t y = word * 64 + countTrailingZeros64(bits);
                    bits &= bits - 1;
                    if (y < 1 || y > h - 2) continue;
                    if (y == skip) {
                        columnBits[x][word] |= uint64_t{1} << (y & 63);
                        continue;
                    }
                    const int32_t p = y * w + x;
                    if (plane[p] != 0 || (plane[p + w] != 255 && plane[p - w] != 255)) continue;
                    const uint32_t code = neighbourCode(plane + p, w);
                    if (!ThinningTable[code]) continue;
                    plane[p] = 255;
                    markAround(x, y, code);
                    changed = true;
                    skip = y + 1;
                }
            }
        }
    }
};

}  // namespace

int32_t thinImage(Workspace& ws, uint8_t* plane, int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > kMaxWidth || height > kMaxHeight || plane == ws.scratchPlane) return 0;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (width >= 3 && height >= 3) {
        Thinner t;
        t.plane = plane;
        t.w = width;
        t.h = height;
        t.start();
        do {
            t.changed = false;
            t.horizontalPass();
            t.verticalPass();
        } while (t.changed);
    }
    // The plain scheme writes every deletion to scratchPlane too; the copy
    // leaves the same skeleton there.
    std::memcpy(ws.scratchPlane, plane, bytes);
    return 0;
}

int32_t thinRidges(Workspace& ws) { return thinImage(ws, ws.imagePlane, ws.width, ws.height); }

}  // namespace orvane
