#include "minutiae/thinning.h"

#include <cstring>
#include <new>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define ORVANE_THIN_SSE2 1
#endif

namespace orvane {

constexpr uint8_t ThinningTable[256] = {
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

// The scheme as plainly stated, for planes holding values other than 0 and
// 255 (they count as neither ridge nor background in the tests).
void thinPlain(uint8_t* plane, int32_t w, int32_t h) {
    bool changed = true;
    while (changed) {
        changed = false;
        for (int32_t y = 1; y <= h - 2; ++y) {
            for (int32_t x = 1; x <= w - 2; ++x) {
                uint8_t* c = plane + y * w + x;
                if (*c != 0 || (c[-1] != 255 && c[1] != 255) || !ThinningTable[neighbourCode(c, w)]) continue;
                *c = 255;
                changed = true;
                ++x;
            }
        }
        for (int32_t x = 1; x <= w - 2; ++x) {
            for (int32_t y = 1; y <= h - 2; ++y) {
                uint8_t* c = plane + y * w + x;
                if (*c != 0 || (c[w] != 255 && c[-w] != 255) || !ThinningTable[neighbourCode(c, w)]) continue;
                *c = 255;
                changed = true;
                ++y;
            }
        }
    }
}

// Deletability from the ridge bits (1 = ridge) of the 3 x 3 neighbourhood.
// Horizontal passes index by rows: bits 0..2 the row above (x - 1, x, x + 1),
// 3..5 the pixel's row, 6..8 the row below. Vertical passes index by columns:
// bits 0..2 the column to the left (y - 1, y, y + 1), 3..5 the pixel's column,
// 6..8 the column to the right.
struct NeighbourhoodTables {
    uint8_t byRows[512];
    uint8_t byColumns[512];
};

constexpr NeighbourhoodTables makeNeighbourhoodTables() {
    NeighbourhoodTables t{};
    for (uint32_t i = 0; i < 512; ++i) {
        // background[dy + 1][dx + 1] for the neighbour (x + dx, y + dy)
        uint32_t backgroundByRows[3][3] = {};
        uint32_t backgroundByColumns[3][3] = {};
        for (uint32_t a = 0; a < 3; ++a) {
            for (uint32_t b = 0; b < 3; ++b) {
                const uint32_t background = ((i >> (a * 3 + b)) & 1u) ^ 1u;
                backgroundByRows[a][b] = background;     // row a, column b
                backgroundByColumns[b][a] = background;  // column a, row b
            }
        }
        auto code = [](const uint32_t (&bg)[3][3]) {
            return bg[2][0] | bg[2][1] << 1 | bg[2][2] << 2 | bg[1][0] << 3 | bg[1][2] << 4 | bg[0][0] << 5 |
                   bg[0][1] << 6 | bg[0][2] << 7;
        };
        t.byRows[i] = ThinningTable[code(backgroundByRows)];
        t.byColumns[i] = ThinningTable[code(backgroundByColumns)];
    }
    return t;
}

constexpr NeighbourhoodTables kNeighbourhood = makeNeighbourhoodTables();

inline int countTrailingZeros64(uint64_t v) { return __builtin_ctzll(v); }

// Bits of the 16 pixels from `row` that are exactly 0, and whether any of
// them is neither 0 nor 255.
#if ORVANE_THIN_SSE2
inline uint64_t ridgeBits16(const uint8_t* row, bool& other) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
    const uint32_t zero = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
    const uint32_t full = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(-1))));
    other |= (zero | full) != 0xFFFFu;
    return zero;
}
#else
inline uint64_t ridgeBits16(const uint8_t* row, bool& other) {
    uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        bits |= static_cast<uint64_t>(row[i] == 0) << i;
        other |= row[i] != 0 && row[i] != 255;
    }
    return bits;
}
#endif

// Bits 0..2: positions i - 1, i, i + 1 of a bit line (i >= 1).
inline uint32_t threeBits(const uint64_t* words, int32_t i) {
    const int32_t pos = i - 1;
    const int32_t shift = pos & 63;
    uint64_t v = words[pos >> 6] >> shift;
    if (shift > 61) v |= words[(pos >> 6) + 1] << (64 - shift);
    return static_cast<uint32_t>(v & 7u);
}

// Thinning of a two-level plane on bit lines. The image is held twice, as
// ridge bits by row and by column, so that both passes walk their own scan
// order through contiguous bits; the plane itself receives each deletion.
//
// The sequential scheme visits every pixel in every pass. A pixel whose 3 x 3
// neighbourhood has not changed since its last visit in a pass of the same
// direction gets the same answer as then: it is not deleted (a deleted pixel
// is background and no longer a candidate). So only pixels beside a change
// are visited again: a deletion marks its 3 x 3 neighbourhood as pending in
// both directions. Marks for pixels still ahead in the current pass are taken
// up in this pass, marks behind it in the next one.
//
// Within a pass the candidacy of a pixel not yet visited cannot change: only
// the deletion of the pixel before it in scan order could change it, and then
// the pixel is skipped. So each word's candidates are found up front.
struct BitThinner {
    uint64_t ridgeRows[kMaxHeight][kRowWords + 1];
    uint64_t ridgeColumns[kMaxWidth][kColumnWords + 1];
    uint64_t pendingRows[kMaxHeight][kRowWords + 1];
    uint64_t pendingColumns[kMaxWidth][kColumnWords + 1];
    uint64_t innerColumns[kRowWords];  // x = 1 .. w - 2
    uint64_t innerRows[kColumnWords];  // y = 1 .. h - 2
    uint8_t* plane;
    int32_t w;
    int32_t h;
    bool changed;

    static void setRange(uint64_t* words, int32_t count, int32_t from, int32_t to) {
        for (int32_t k = 0; k < count; ++k) words[k] = 0;
        for (int32_t i = from; i <= to; ++i) words[i >> 6] |= uint64_t{1} << (i & 63);
    }

    // Loads the plane; false when it holds a value other than 0 and 255.
    bool load(uint8_t* source, int32_t width, int32_t height) {
        plane = source;
        w = width;
        h = height;
        std::memset(ridgeRows, 0, sizeof ridgeRows);
        std::memset(ridgeColumns, 0, sizeof ridgeColumns);
        bool other = false;
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* row = plane + y * w;
            int32_t x = 0;
            for (; x + 16 <= w; x += 16) ridgeRows[y][x >> 6] |= ridgeBits16(row + x, other) << (x & 63);
            for (; x < w; ++x) {
                ridgeRows[y][x >> 6] |= static_cast<uint64_t>(row[x] == 0) << (x & 63);
                other |= row[x] != 0 && row[x] != 255;
            }
            for (int32_t k = 0; k < kRowWords; ++k) {
                uint64_t bits = ridgeRows[y][k];
                while (bits) {
                    const int32_t xx = k * 64 + countTrailingZeros64(bits);
                    bits &= bits - 1;
                    ridgeColumns[xx][y >> 6] |= uint64_t{1} << (y & 63);
                }
            }
        }
        if (other) return false;
        std::memcpy(pendingRows, ridgeRows, sizeof pendingRows);
        std::memcpy(pendingColumns, ridgeColumns, sizeof pendingColumns);
        setRange(innerColumns, kRowWords, 1, w - 2);
        setRange(innerRows, kColumnWords, 1, h - 2);
        return true;
    }

    void erase(int32_t x, int32_t y) {
        plane[y * w + x] = 255;
        ridgeRows[y][x >> 6] &= ~(uint64_t{1} << (x & 63));
        ridgeColumns[x][y >> 6] &= ~(uint64_t{1} << (y & 63));
        const int32_t hx = x - 1;
        const int32_t hWord = hx >> 6, hShift = hx & 63;
        const uint64_t hLow = uint64_t{7} << hShift;
        const uint64_t hHigh = hShift > 61 ? uint64_t{7} >> (64 - hShift) : 0;
        const int32_t vy = y - 1;
        const int32_t vWord = vy >> 6, vShift = vy & 63;
        const uint64_t vLow = uint64_t{7} << vShift;
        const uint64_t vHigh = vShift > 61 ? uint64_t{7} >> (64 - vShift) : 0;
        for (int32_t i = -1; i <= 1; ++i) {
            pendingRows[y + i][hWord] |= hLow;
            pendingColumns[x + i][vWord] |= vLow;
        }
        if (hHigh) {
            for (int32_t i = -1; i <= 1; ++i) pendingRows[y + i][hWord + 1] |= hHigh;
        }
        if (vHigh) {
            for (int32_t i = -1; i <= 1; ++i) pendingColumns[x + i][vWord + 1] |= vHigh;
        }
        changed = true;
    }

    void horizontalPass() {
        const int32_t words = (w + 63) >> 6;
        for (int32_t y = 1; y <= h - 2; ++y) {
            const uint64_t* above = ridgeRows[y - 1];
            uint64_t* line = ridgeRows[y];
            const uint64_t* below = ridgeRows[y + 1];
            bool skipFirst = false;
            for (int32_t k = 0; k < words; ++k) {
                uint64_t pending = pendingRows[y][k];
                if (!pending) {
                    skipFirst = false;
                    continue;
                }
                pendingRows[y][k] = skipFirst ? 1 : 0;  // a skipped pixel waits for the next pass
                if (skipFirst) pending &= ~uint64_t{1};
                skipFirst = false;
                const uint64_t r = line[k];
                const uint64_t left = r << 1 | (k > 0 ? line[k - 1] >> 63 : 0);
                const uint64_t right = r >> 1 | line[k + 1] << 63;
                uint64_t candidates = r & (~left | ~right) & pending & innerColumns[k];
                while (candidates) {
                    const int32_t b = countTrailingZeros64(candidates);
                    candidates &= candidates - 1;
                    const int32_t x = k * 64 + b;
                    const uint32_t index = threeBits(above, x) | threeBits(line, x) << 3 | threeBits(below, x) << 6;
                    if (!kNeighbourhood.byRows[index]) continue;
                    erase(x, y);
                    if (b < 63) {
                        candidates &= ~(uint64_t{1} << (b + 1));
                    } else {
                        skipFirst = true;
                    }
                }
            }
        }
    }

    void verticalPass() {
        const int32_t words = (h + 63) >> 6;
        for (int32_t x = 1; x <= w - 2; ++x) {
            const uint64_t* leftColumn = ridgeColumns[x - 1];
            uint64_t* column = ridgeColumns[x];
            const uint64_t* rightColumn = ridgeColumns[x + 1];
            bool skipFirst = false;
            for (int32_t k = 0; k < words; ++k) {
                uint64_t pending = pendingColumns[x][k];
                if (!pending) {
                    skipFirst = false;
                    continue;
                }
                pendingColumns[x][k] = skipFirst ? 1 : 0;
                if (skipFirst) pending &= ~uint64_t{1};
                skipFirst = false;
                const uint64_t c = column[k];
                const uint64_t up = c << 1 | (k > 0 ? column[k - 1] >> 63 : 0);
                const uint64_t down = c >> 1 | column[k + 1] << 63;
                uint64_t candidates = c & (~up | ~down) & pending & innerRows[k];
                while (candidates) {
                    const int32_t b = countTrailingZeros64(candidates);
                    candidates &= candidates - 1;
                    const int32_t y = k * 64 + b;
                    const uint32_t index =
                        threeBits(leftColumn, y) | threeBits(column, y) << 3 | threeBits(rightColumn, y) << 6;
                    if (!kNeighbourhood.byColumns[index]) continue;
                    erase(x, y);
                    if (b < 63) {
                        candidates &= ~(uint64_t{1} << (b + 1));
                    } else {
                        skipFirst = true;
                    }
                }
            }
        }
    }
};

static_assert(sizeof(BitThinner) <= kPlaneSize, "the bit lines live in scratchPlane");

}  // namespace

int32_t thinImage(Workspace& ws, uint8_t* plane, int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > kMaxWidth || height > kMaxHeight || plane == ws.scratchPlane) return 0;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (width >= 3 && height >= 3) {
        // The bit lines are working memory inside scratchPlane, which gets the
        // skeleton copied over it at the end.
        BitThinner* t = new (ws.scratchPlane) BitThinner;
        if (t->load(plane, width, height)) {
            do {
                t->changed = false;
                t->horizontalPass();
                t->verticalPass();
            } while (t->changed);
        } else {
            thinPlain(plane, width, height);
        }
        t->~BitThinner();
    }
    // The scheme writes every deletion to scratchPlane too; the copy leaves
    // the same skeleton there.
    std::memcpy(ws.scratchPlane, plane, bytes);
    return 0;
}

int32_t thinRidges(Workspace& ws) { return thinImage(ws, ws.imagePlane, ws.width, ws.height); }

}  // namespace orvane
