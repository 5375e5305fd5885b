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

// Flags per pixel in the working memory: the pixel has to be tested again
// in the next horizontal / vertical pass because something in its 3 x 3
// neighbourhood changed since it was last tested there.
constexpr uint8_t kRetestHorizontal = 1;
constexpr uint8_t kRetestVertical = 2;

constexpr int32_t kColumnWords = (kMaxHeight + 63) / 64;

inline uint32_t neighbourCode(const uint8_t* c, int32_t w) {
    return static_cast<uint32_t>(c[w - 1] == 255) | static_cast<uint32_t>(c[w] == 255) << 1 |
           static_cast<uint32_t>(c[w + 1] == 255) << 2 | static_cast<uint32_t>(c[-1] == 255) << 3 |
           static_cast<uint32_t>(c[1] == 255) << 4 | static_cast<uint32_t>(c[-w - 1] == 255) << 5 |
           static_cast<uint32_t>(c[-w] == 255) << 6 | static_cast<uint32_t>(c[1 - w] == 255) << 7;
}

inline int countTrailingZeros(uint32_t v) { return __builtin_ctz(v); }
inline int countTrailingZeros64(uint64_t v) { return __builtin_ctzll(v); }

// Candidates of a pass among the 16 pixels from `centre`: ridge (0) with a
// background (255) pixel at `before` or `after` and, when `flags` is given,
// the flag bit set. Bit i stands for pixel i.
#if ORVANE_THIN_SSE2
inline uint32_t candidateBits16(const uint8_t* centre, const uint8_t* before, const uint8_t* after,
                                const uint8_t* flags, uint8_t flagBit) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(centre));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(before));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(after));
    __m128i m = _mm_and_si128(_mm_cmpeq_epi8(c, zero), _mm_or_si128(_mm_cmpeq_epi8(b, full), _mm_cmpeq_epi8(a, full)));
    if (flags) {
        const __m128i bit = _mm_set1_epi8(static_cast<char>(flagBit));
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(flags));
        m = _mm_and_si128(m, _mm_cmpeq_epi8(_mm_and_si128(f, bit), bit));
    }
    return static_cast<uint32_t>(_mm_movemask_epi8(m));
}
#else
inline uint32_t candidateBits16(const uint8_t* centre, const uint8_t* before, const uint8_t* after,
                                const uint8_t* flags, uint8_t flagBit) {
    uint32_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        const bool candidate = centre[i] == 0 && (before[i] == 255 || after[i] == 255) &&
                               (!flags || (flags[i] & flagBit) != 0);
        bits |= static_cast<uint32_t>(candidate) << i;
    }
    return bits;
}
#endif

struct Thinner {
    uint8_t* plane;
    uint8_t* flags;
    int32_t w;
    int32_t h;
    bool changed;
    uint8_t rowDirty[kMaxHeight];
    uint8_t columnDirty[kMaxWidth];
    // Vertical-pass candidates, one bit per row, column by column.
    uint64_t columnCandidates[kMaxWidth][kColumnWords];

    void erase(int32_t p, int32_t x, int32_t y) {
        plane[p] = 255;
        constexpr uint8_t both = kRetestHorizontal | kRetestVertical;
        uint8_t* f = flags + p;
        f[-w - 1] |= both;
        f[-w] |= both;
        f[-w + 1] |= both;
        f[-1] |= both;
        f[1] |= both;
        f[w - 1] |= both;
        f[w] |= both;
        f[w + 1] |= both;
        rowDirty[y - 1] = rowDirty[y] = rowDirty[y + 1] = 1;
        columnDirty[x - 1] = columnDirty[x] = columnDirty[x + 1] = 1;
        changed = true;
    }

    // Tests one candidate of a pass; true when it was deleted.
    bool test(int32_t p, int32_t x, int32_t y, uint8_t flagBit) {
        if (!(flags[p] & flagBit)) return false;
        flags[p] = static_cast<uint8_t>(flags[p] & ~flagBit);
        if (!ThinningTable[neighbourCode(plane + p, w)]) return false;
        erase(p, x, y);
        return true;
    }

    void horizontalPass() {
        for (int32_t y = 1; y <= h - 2; ++y) {
            if (!rowDirty[y]) continue;
            rowDirty[y] = 0;
            uint8_t* row = plane + y * w;
            const uint8_t* frow = flags + y * w;
            int32_t skip = -1;
            int32_t x0 = 1;
            // Candidacy of a pixel not yet visited cannot change during the
            // pass (only a deletion of its left neighbour could, and then it
            // is skipped), so each block's candidates are found up front.
            for (; x0 + 16 <= w - 1; x0 += 16) {
                uint32_t bits = candidateBits16(row + x0, row + x0 - 1, row + x0 + 1, frow + x0, kRetestHorizontal);
                while (bits) {
                    const int32_t x = x0 + countTrailingZeros(bits);
                    bits &= bits - 1;
                    if (x == skip) continue;
                    if (test(y * w + x, x, y, kRetestHorizontal)) skip = x + 1;
                }
            }
            for (int32_t x = x0; x <= w - 2; ++x) {
                if (x == skip) continue;
                if (row[x] != 0 || (row[x - 1] != 255 && row[x + 1] != 255)) continue;
                if (test(y * w + x, x, y, kRetestHorizontal)) skip = x + 1;
            }
        }
    }

    void collectVerticalCandidates() {
        std::memset(columnCandidates, 0, sizeof columnCandidates);
        for (int32_t y = 1; y <= h - 2; ++y) {
            const uint8_t* row = plane + y * w;
            const uint64_t bit = uint64_t{1} << (y & 63);
            const int32_t word = y >> 6;
            int32_t x0 = 1;
            for (; x0 + 16 <= w - 1; x0 += 16) {
                uint32_t bits = candidateBits16(row + x0, row + x0 - w, row + x0 + w, nullptr, 0);
                while (bits) {
                    const int32_t x = x0 + countTrailingZeros(bits);
                    bits &= bits - 1;
                    columnCandidates[x][word] |= bit;
                }
            }
            for (int32_t x = x0; x <= w - 2; ++x) {
                if (row[x] == 0 && (row[x - w] == 255 || row[x + w] == 255)) columnCandidates[x][word] |= bit;
            }
        }
    }

    void verticalPass() {
        // As in the horizontal pass, candidacy is fixed at the start of the
        // pass: it can change only through the deletion of the pixel above,
        // after which the pixel is skipped.
        collectVerticalCandidates();
        for (int32_t x = 1; x <= w - 2; ++x) {
            if (!columnDirty[x]) continue;
            columnDirty[x] = 0;
            int32_t skip = -1;
            for (int32_t word = 0; word < kColumnWords; ++word) {
                uint64_t bits = columnCandidates[x][word];
                while (bits) {
                    const int32_t y = word * 64 + countTrailingZeros64(bits);
                    bits &= bits - 1;
                    if (y == skip) continue;
                    if (test(y * w + x, x, y, kRetestVertical)) skip = y + 1;
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
        // The working copy of the plain scheme always equals the plane, so
        // scratchPlane serves as the retest flags and receives the copy at
        // the end.
        Thinner t;
        t.plane = plane;
        t.flags = ws.scratchPlane;
        t.w = width;
        t.h = height;
        std::memset(t.flags, kRetestHorizontal | kRetestVertical, bytes);
        std::memset(t.rowDirty, 1, sizeof t.rowDirty);
        std::memset(t.columnDirty, 1, sizeof t.columnDirty);
        do {
            t.changed = false;
            t.horizontalPass();
            t.verticalPass();
        } while (t.changed);
    }
    std::memcpy(ws.scratchPlane, plane, bytes);
    return 0;
}

int32_t thinRidges(Workspace& ws) { return thinImage(ws, ws.imagePlane, ws.width, ws.height); }

}  // namespace orvane
