// The reference index: the coarse grid of the reference set, the exact
// within-reach test, and the compact per-minutia records a gallery keeps.
// Tested through the search against tests/match/reference_matcher.cpp.
#include <cstring>

#include "match/match_internal.h"
#include "core/numeric.h"

namespace orvane::match_internal {

namespace {

inline bool isAvailableRing(int32_t v) { return v >= 0 && v < 180; }

constexpr int16_t kFarAway = -20000;  // padding records: out of reach of every clamped coordinate

// The smallest grid cell width at which the extents fit in kGridCells: the
// cells of the marked span plus an empty cell on either side.
int32_t gridCellWidth(int32_t spanX, int32_t spanY) {
    int32_t w = kGridMinCell;
    for (;; ++w) {
        const int32_t width = (spanX + kGridReachBelow + kGridReachAbove) / w + 2;
        const int32_t height = (spanY + kGridReachBelow + kGridReachAbove) / w + 2;
        if (width * height <= kGridCells) return w;
    }
}

// Bit b set for each bin b (of binOf) holding a direction within reach of
// direction (0..359).
template <typename BinOf>
uint32_t directionBinsWithinReach(int32_t direction, BinOf binOf) {
    // binOf is monotone and steps by at most one bin per degree: the bins of
    // a run of directions are those from the first one's to the last one's.
    auto run = [&](int32_t from, int32_t to) { return (uint32_t{2} << binOf(to)) - (uint32_t{1} << binOf(from)); };
    const int32_t low = direction - kReach, high = direction + kReach;
    if (low < 0) return run(0, high) | run(low + 360, 359);
    if (high >= 360) return run(low, 359) | run(0, high - 360);
    return run(low, high);
}

// The coarse masks over the extent [min, max] of the reference minutiae.
void buildCoarseIndex(PreparedReference& prepared, int32_t minX, int32_t maxX, int32_t minY, int32_t maxY) {
    // The reach of every minutia falls in cells 0..kCoarseCells - 1.
    const int32_t wx = (maxX - minX + kGridReachBelow + kGridReachAbove) / kCoarseCells + 1;
    const int32_t wy = (maxY - minY + kGridReachBelow + kGridReachAbove) / kCoarseCells + 1;
    prepared.coarseOriginX = minX - kGridReachBelow;
    prepared.coarseOriginY = minY - kGridReachBelow;
    prepared.coarseScaleX = 1.0f / static_cast<float>(wx);
    prepared.coarseScaleY = 1.0f / static_cast<float>(wy);
    std::memset(prepared.coarseX, 0, sizeof prepared.coarseX);
    std::memset(prepared.coarseY, 0, sizeof prepared.coarseY);
    std::memset(prepared.coarseDirection, 0, sizeof prepared.coarseDirection);
    for (int32_t i = 0; i < prepared.count; ++i) {
        const uint64_t bit = uint64_t{1} << i;
        const int32_t x0 = (prepared.x[i] - kGridReachBelow - prepared.coarseOriginX) / wx;
        const int32_t x1 = (prepared.x[i] + kGridReachAbove - prepared.coarseOriginX) / wx;
        for (int32_t c = x0; c <= x1; ++c) prepared.coarseX[c] |= bit;
        const int32_t y0 = (prepared.y[i] - kGridReachBelow - prepared.coarseOriginY) / wy;
        const int32_t y1 = (prepared.y[i] + kGridReachAbove - prepared.coarseOriginY) / wy;
        for (int32_t c = y0; c <= y1; ++c) prepared.coarseY[c] |= bit;
        const uint32_t bins = directionBinsWithinReach(prepared.direction[i], coarseDirectionBin);
        for (int32_t b = 0; b < kCoarseCells; ++b) {
            if (bins >> b & 1u) prepared.coarseDirection[b] |= bit;
        }
    }
}

// Fills the padded copies and the grid from the records already in prepared.
void buildIndex(PreparedReference& prepared) {
    const int32_t count = prepared.count;
    for (int32_t i = 0; i < kPaddedMinutiae; ++i) {
        const bool real = i < count;
        prepared.x16[i] = real ? static_cast<int16_t>(prepared.x[i]) : kFarAway;
        prepared.y16[i] = real ? static_cast<int16_t>(prepared.y[i]) : kFarAway;
        prepared.direction16[i] = real ? static_cast<int16_t>(prepared.direction[i]) : 0;
    }
    int32_t minX = kCoordinateLimit, maxX = 0, minY = kCoordinateLimit, maxY = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (prepared.x[i] < minX) minX = prepared.x[i];
        if (prepared.x[i] > maxX) maxX = prepared.x[i];
        if (prepared.y[i] < minY) minY = prepared.y[i];
        if (prepared.y[i] > maxY) maxY = prepared.y[i];
    }
    if (count == 0) minX = maxX = minY = maxY = 0;
    const int32_t w = gridCellWidth(maxX - minX, maxY - minY);
    // Cell 0 of each axis stays empty: the lowest marked coordinate lies one
    // cell above the origin, and anything between the origin and one cell
    // below it (cut towards zero to cell 0) is out of reach.
    prepared.gridOriginX = minX - kGridReachBelow - w;
    prepared.gridOriginY = minY - kGridReachBelow - w;
    prepared.gridWidth = (maxX + kGridReachAbove - prepared.gridOriginX) / w + 1;
    prepared.gridHeight = (maxY + kGridReachAbove - prepared.gridOriginY) / w + 1;
    prepared.gridScale = 1.0f / static_cast<float>(w);
    std::memset(prepared.grid, 0, sizeof(uint32_t) * static_cast<size_t>(prepared.gridWidth * prepared.gridHeight + 1));
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t bins = directionBinsWithinReach(prepared.direction[i], directionBin);
        const int32_t x0 = (prepared.x[i] - kGridReachBelow - prepared.gridOriginX) / w;
        const int32_t x1 = (prepared.x[i] + kGridReachAbove - prepared.gridOriginX) / w;
        const int32_t y0 = (prepared.y[i] - kGridReachBelow - prepared.gridOriginY) / w;
        const int32_t y1 = (prepared.y[i] + kGridReachAbove - prepared.gridOriginY) / w;
        for (int32_t cy = y0; cy <= y1; ++cy) {
            for (int32_t cx = x0; cx <= x1; ++cx) prepared.grid[cy * prepared.gridWidth + cx] |= bins;
        }
    }
    buildCoarseIndex(prepared, minX, maxX, minY, maxY);
}

// Coordinates beyond these are out of reach of every reference minutia
// (0..1023) whichever way they are clamped, and the differences stay within
// 16 bits.
inline int32_t clampAligned(int32_t v) { return v < -64 ? -64 : (v > 1100 ? 1100 : v); }

uint64_t nearPortable(const PreparedReference& ref, int32_t x, int32_t y, int32_t direction) {
    x = clampAligned(x);
    y = clampAligned(y);
    uint64_t near = 0;
    for (int32_t i = 0; i < ref.count; ++i) {
        const int32_t dx = ref.x[i] - x;
        const int32_t dy = ref.y[i] - y;
        if (dx < -kReach || dx > kReach || dy < -kReach || dy > kReach) continue;
        if (directionDifference(ref.direction[i], direction) > kReach) continue;
        near |= uint64_t{1} << i;
    }
    return near;
}

#if ORVANE_AVX2_DISPATCH
// Sixteen reference minutiae per step in 16-bit lanes: the same three tests.
ORVANE_TARGET_AVX2 uint64_t nearWide(const PreparedReference& ref, int32_t x, int32_t y,
                                                  int32_t direction) {
    const __m256i vx = _mm256_set1_epi16(static_cast<int16_t>(clampAligned(x)));
    const __m256i vy = _mm256_set1_epi16(static_cast<int16_t>(clampAligned(y)));
    const __m256i vd = _mm256_set1_epi16(static_cast<int16_t>(direction));
    const __m256i limit = _mm256_set1_epi16(kPairLimit);
    const __m256i turn = _mm256_set1_epi16(360);
    __m256i within[4];
    for (int32_t k = 0; k < 4; ++k) {
        const __m256i rx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref.x16 + 16 * k));
        const __m256i ry = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref.y16 + 16 * k));
        const __m256i rd = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref.direction16 + 16 * k));
        const __m256i dx = _mm256_abs_epi16(_mm256_sub_epi16(rx, vx));
        const __m256i dy = _mm256_abs_epi16(_mm256_sub_epi16(ry, vy));
        const __m256i dd = _mm256_abs_epi16(_mm256_sub_epi16(rd, vd));
        const __m256i e = _mm256_min_epi16(dd, _mm256_sub_epi16(turn, dd));
        within[k] = _mm256_and_si256(_mm256_and_si256(_mm256_cmpgt_epi16(limit, dx), _mm256_cmpgt_epi16(limit, dy)),
                                     _mm256_cmpgt_epi16(limit, e));
    }
    // packs interleaves the 128-bit halves; the permute restores record order.
    const __m256i low = _mm256_permute4x64_epi64(_mm256_packs_epi16(within[0], within[1]), 0xD8);
    const __m256i high = _mm256_permute4x64_epi64(_mm256_packs_epi16(within[2], within[3]), 0xD8);
    return static_cast<uint32_t>(_mm256_movemask_epi8(low)) |
           (static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(high))) << 32);
}
#endif

}  // namespace

void ringQuantities(const Minutia& m, int8_t quantity[4]) {
    const int32_t r0 = m.ringOrientation[0];
    const int32_t r1 = m.ringOrientation[1];
    const int32_t r2 = m.ringOrientation[2];
    const bool a0 = isAvailableRing(r0);
    const bool a1 = isAvailableRing(r1);
    const bool a2 = isAvailableRing(r2);
    quantity[0] = static_cast<int8_t>(a0 ? orientationDifference(r0, normalDirection(m.direction) % 180) : -1);
    quantity[1] = static_cast<int8_t>(a0 && a1 ? orientationDifference(r0, r1) : -1);
    quantity[2] = static_cast<int8_t>(a1 && a2 ? orientationDifference(r1, r2) : -1);
    quantity[3] = static_cast<int8_t>(a0 && a2 ? orientationDifference(r0, r2) : -1);
}

CompactMinutia compactMinutia(const Minutia& m) {
    CompactMinutia c{};
    c.x = static_cast<uint16_t>(clampCoordinate(m.x));
    c.y = static_cast<uint16_t>(clampCoordinate(m.y));
    c.direction = static_cast<uint16_t>(normalDirection(m.direction));
    c.kind = static_cast<uint8_t>(m.kind);
    ringQuantities(m, c.ring);
    return c;
}

void prepareReference(const MinutiaSet& reference, PreparedReference& prepared) {
    const int32_t count = clampCount(reference.count);
    prepared.count = count;
    for (int32_t i = 0; i < count; ++i) {
        const Minutia& m = reference.minutiae[i];
        prepared.x[i] = clampCoordinate(m.x);
        prepared.y[i] = clampCoordinate(m.y);
        prepared.direction[i] = normalDirection(m.direction);
        prepared.kind[i] = m.kind;
        ringQuantities(m, prepared.ring[i]);
    }
    buildIndex(prepared);
}

void prepareReference(const CompactMinutia* reference, int32_t count, PreparedReference& prepared) {
    count = clampCount(count);
    prepared.count = count;
    for (int32_t i = 0; i < count; ++i) {
        const CompactMinutia& m = reference[i];
        prepared.x[i] = m.x;
        prepared.y[i] = m.y;
        prepared.direction[i] = m.direction;
        prepared.kind[i] = m.kind;
        std::memcpy(prepared.ring[i], m.ring, sizeof m.ring);
    }
    buildIndex(prepared);
}

uint64_t nearReference(const PreparedReference& ref, int32_t x, int32_t y, int32_t direction, bool wide) {
#if ORVANE_AVX2_DISPATCH
    if (wide) return nearWide(ref, x, y, direction);
#else
    (void)wide;
#endif
    return nearPortable(ref, x, y, direction);
}

uint64_t kindMask(const PreparedReference& ref, int32_t kind) {
    uint64_t mask = 0;
    for (int32_t i = 0; i < ref.count; ++i) {
        if (ref.kind[i] == kind) mask |= uint64_t{1} << i;
    }
    return mask;
}

}  // namespace orvane::match_internal
