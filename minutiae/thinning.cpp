// Thinning of the ridge image on bit lines. The tests compare it with
// reference::thinImage (tests/minutiae/reference.cpp), the scheme as plainly
// stated; thinPlain below serves planes holding other values than 0 and 255.
#include "minutiae/thinning.h"

#include <cstring>
#include <new>

#include "core/simd.h"

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

// Bits of the 16 pixels from `row` that are exactly 0, and whether any of
// them is neither 0 nor 255.
#if ORVANE_SSE2
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

// Deletability as a function of the background bits of the eight
// neighbours (1 = background), the table in minimal sum-of-products form.
// Evaluated on whole words, 64 pixels at once.
constexpr uint64_t deletableBits(uint64_t sw, uint64_t s, uint64_t se, uint64_t w, uint64_t e, uint64_t nw,
                                 uint64_t n, uint64_t ne) {
    const uint64_t notN = ~n, notS = ~s, notE = ~e, notW = ~w;
    return (e & ne & notS & notW) | (nw & w & notE & notS) | (s & se & notN & notW) | (s & sw & notE & notN) |
           (e & notN & notS & notW) | (n & notE & notS & notW) | (s & notE & notN & notW) |
           (w & notE & notN & notS) | (e & ne & se & ~nw & notW) | (e & ne & se & ~sw & notW) |
           (n & ne & nw & notS & ~se) | (n & ne & nw & notS & ~sw) | (nw & sw & w & notE & ~ne) |
           (nw & sw & w & notE & ~se) | (s & se & sw & notN & ~ne) | (s & se & sw & notN & ~nw);
}

constexpr bool formulaMatchesTable() {
    for (uint32_t code = 0; code < 256; ++code) {
        auto bit = [code](int i) { return static_cast<uint64_t>((code >> i) & 1u); };
        const uint64_t v = deletableBits(bit(0), bit(1), bit(2), bit(3), bit(4), bit(5), bit(6), bit(7)) & 1u;
        if (v != ThinningTable[code]) return false;
    }
    return true;
}
static_assert(formulaMatchesTable(), "the deletability formula is the table");

constexpr uint64_t kEvenBits = 0x5555555555555555ull;
constexpr uint64_t kOddBits = 0xAAAAAAAAAAAAAAAAull;

// The skip after a deletion: of each run of consecutive pixels that would be
// deleted when visited, the first, third, fifth ... are deleted and the
// others skipped. Runs may cross words; positions are counted along the line.
inline void resolveRuns(const uint64_t* wouldDelete, uint64_t* deleted, int32_t words) {
    bool carryRun = false, carryEven = false;
    for (int32_t k = 0; k < words; ++k) {
        const uint64_t m = wouldDelete[k];
        uint64_t starts = m & ~(m << 1);
        uint64_t startsEven = starts & kEvenBits;
        uint64_t startsOdd = starts & kOddBits;
        if (carryRun && (m & 1u)) {
            // The run goes on from the previous word, deleting the positions
            // of its parity.
            startsEven &= ~uint64_t{1};
            if (carryEven) {
                startsEven |= 1u;
            } else {
                startsOdd |= 1u;
            }
        }
        const uint64_t runsEven = m & ~(m + startsEven);
        const uint64_t runsOdd = m & ~(m + startsOdd);
        deleted[k] = (runsEven & kEvenBits) | (runsOdd & kOddBits);
        carryRun = (m >> 63) != 0;
        carryEven = (runsEven >> 63) != 0;
    }
}

// Neighbour words of a bit line: bit i of before() is bit i - 1 of the line,
// bit i of after() is bit i + 1.
inline uint64_t before(const uint64_t* line, int32_t k) { return line[k] << 1 | (k > 0 ? line[k - 1] >> 63 : 0); }
inline uint64_t after(const uint64_t* line, int32_t k) { return line[k] >> 1 | line[k + 1] << 63; }

// Thinning of a two-level plane on bit lines. The image is held twice, as
// ridge bits by row and by column, so that both passes work through their own
// scan lines as contiguous bits; the plane itself receives each deletion.
//
// A line of a pass is decided all at once. When the scan reaches a pixel of
// line y (row or column), the line before is final for this pass and the line
// after is untouched; on the line itself, the pixel before it is either
// untouched or was just deleted, and then the pixel is skipped; the pixel
// after it is untouched. So whether a pixel would be deleted if visited
// depends only on the line before as it ends up and on the two other lines as
// the pass found them, and is evaluated for 64 pixels per word with the table
// as a boolean formula. The skip then keeps every other pixel of each run of
// such pixels, starting with the first.
//
// The sequential scheme visits every pixel in every pass. A pixel whose 3 x 3
// neighbourhood has not changed since its last visit in a pass of the same
// direction gets the same answer as then: it is not deleted (a deleted pixel
// is background and no longer a candidate). So only pixels beside a change
// are considered again: a deletion marks its 3 x 3 neighbourhood as pending
// in both directions, for the lines still ahead in the current pass and for
// the next one.
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
            for (; x + 64 <= w; x += 64) {
                ridgeRows[y][x >> 6] = ridgeBits16(row + x, other) | ridgeBits16(row + x + 16, other) << 16 |
                                       ridgeBits16(row + x + 32, other) << 32 | ridgeBits16(row + x + 48, other) << 48;
            }
            for (; x + 16 <= w; x += 16) ridgeRows[y][x >> 6] |= ridgeBits16(row + x, other) << (x & 63);
            for (; x < w; ++x) {
                ridgeRows[y][x >> 6] |= static_cast<uint64_t>(row[x] == 0) << (x & 63);
                other |= row[x] != 0 && row[x] != 255;
            }
            for (int32_t k = 0; k < kRowWords; ++k) {
                uint64_t bits = ridgeRows[y][k];
                while (bits) {
                    const int32_t xx = k * 64 + countTrailingZeros(bits);
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

    // One line of a pass: from the ridge bits of the line before (already
    // final in this pass), the line itself and the line after (both as at the
    // start of the pass), the pixels deleted, and the marks that follow.
    // Returns whether anything was deleted; deleted[] receives the pixels.
    bool lineDeletions(const uint64_t* previous, const uint64_t* line, const uint64_t* next, uint64_t* pending,
                       const uint64_t* inner, int32_t words, bool horizontal, uint64_t* deleted) {
        uint64_t wouldDelete[kRowWords > kColumnWords ? kRowWords : kColumnWords];
        bool any = false;
        for (int32_t k = 0; k < words; ++k) {
            // Candidates: pending ridge pixels off the border with background
            // before or after them on the line.
            const uint64_t m0 = ~before(line, k), m2 = ~after(line, k);
            const uint64_t p = pending[k] & inner[k] & line[k] & (m0 | m2);
            pending[k] = 0;
            if (!p) {
                wouldDelete[k] = 0;
                continue;
            }
            // Background bits of the neighbours. Horizontal: previous is the
            // row above, next the row below. Vertical: previous is the column
            // to the left, next the column to the right.
            const uint64_t a0 = ~before(previous, k), a1 = ~previous[k], a2 = ~after(previous, k);
            const uint64_t b0 = ~before(next, k), b1 = ~next[k], b2 = ~after(next, k);
            uint64_t d;
            if (horizontal) {
                // sw s se w e nw n ne
                d = deletableBits(b0, b1, b2, m0, m2, a0, a1, a2);
            } else {
                // (x-1,y+1) (x,y+1) (x+1,y+1) (x-1,y) (x+1,y) (x-1,y-1) (x,y-1) (x+1,y-1)
                d = deletableBits(a2, m2, b2, a1, b1, a0, m0, b0);
            }
            wouldDelete[k] = d & p;
            any |= wouldDelete[k] != 0;
        }
        if (!any) return false;
        resolveRuns(wouldDelete, deleted, words);
        return true;
    }

    static void dilate(const uint64_t* deleted, int32_t words, uint64_t* out) {
        for (int32_t k = 0; k < words; ++k) {
            out[k] = deleted[k] | before(deleted, k) | (deleted[k] >> 1 | (k + 1 < words ? deleted[k + 1] << 63 : 0));
        }
    }

    // One pass along the lines of one direction (rows for the horizontal
    // pass, columns for the vertical one). Lines and pending belong to that
    // direction, crossLines and crossPending to the other; lineCount lines of
    // lineLength pixels, bit p of line l being pixel (p, l) of a row or
    // (l, p) of a column.
    template <bool kAlongRows, typename Lines, typename CrossLines>
    void pass(Lines& lines, Lines& pending, CrossLines& crossLines, CrossLines& crossPending, const uint64_t* inner,
              int32_t lineCount, int32_t lineLength) {
        constexpr int32_t kWords = kRowWords > kColumnWords ? kRowWords : kColumnWords;
        const int32_t words = (lineLength + 63) >> 6;
        uint64_t deleted[kWords + 1] = {};
        uint64_t marks[kWords];
        for (int32_t l = 1; l <= lineCount - 2; ++l) {
            if (!lineDeletions(lines[l - 1], lines[l], lines[l + 1], pending[l], inner, words, kAlongRows, deleted))
                continue;
            dilate(deleted, words, marks);
            bool any = false;
            for (int32_t k = 0; k < words; ++k) {
                if (!deleted[k]) continue;
                any = true;
                lines[l][k] &= ~deleted[k];
                uint64_t bits = deleted[k];
                while (bits) {
                    const int32_t p = k * 64 + countTrailingZeros(bits);
                    bits &= bits - 1;
                    plane[kAlongRows ? l * w + p : p * w + l] = 255;
                    crossLines[p][l >> 6] &= ~(uint64_t{1} << (l & 63));
                    markNeighbourhood(crossPending, p, l);
                }
            }
            if (!any) continue;
            changed = true;
            for (int32_t k = 0; k < words; ++k) {
                pending[l - 1][k] |= marks[k];
                pending[l][k] |= marks[k];
                pending[l + 1][k] |= marks[k];
            }
        }
    }

    void horizontalPass() { pass<true>(ridgeRows, pendingRows, ridgeColumns, pendingColumns, innerColumns, h, w); }
    void verticalPass() { pass<false>(ridgeColumns, pendingColumns, ridgeRows, pendingRows, innerRows, w, h); }

    // Pending marks of the 3 x 3 neighbourhood of the pixel deleted at bit p
    // of line l, in the bit lines of the other direction (lines p - 1 to
    // p + 1, bits l - 1 to l + 1).
    template <typename CrossLines>
    static void markNeighbourhood(CrossLines& crossPending, int32_t p, int32_t l) {
        const int32_t first = l - 1;
        const int32_t word = first >> 6, shift = first & 63;
        const uint64_t low = uint64_t{7} << shift;
        const uint64_t high = shift > 61 ? uint64_t{7} >> (64 - shift) : 0;
        for (int32_t i = -1; i <= 1; ++i) crossPending[p + i][word] |= low;
        if (high) {
            for (int32_t i = -1; i <= 1; ++i) crossPending[p + i][word + 1] |= high;
        }
    }
};

static_assert(sizeof(BitThinner) <= kPlaneSize, "the bit lines live in scratchPlane");

}  // namespace

void thinImage(Workspace& ws, uint8_t* plane, int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > kMaxWidth || height > kMaxHeight || plane == ws.scratchPlane) return;
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
}

void thinRidges(Workspace& ws) { thinImage(ws, ws.imagePlane, ws.width, ws.height); }

}  // namespace orvane
