// The reference index: axis and direction masks of the reference set, and the
// compact per-minutia records a gallery keeps. Tested through the search
// against tests/match/reference_matcher.cpp.
#include <cstring>

#include "match/match_internal.h"
#include "core/numeric.h"

namespace orvane::match_internal {

namespace {

inline bool isAvailableRing(int32_t v) { return v >= 0 && v < 180; }

// Fills the masks from the coordinates and directions already in prepared.
void buildMasks(PreparedReference& prepared) {
    const int32_t count = prepared.count;
    int32_t minX = kCoordinateLimit, maxX = 0, minY = kCoordinateLimit, maxY = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (prepared.x[i] < minX) minX = prepared.x[i];
        if (prepared.x[i] > maxX) maxX = prepared.x[i];
        if (prepared.y[i] < minY) minY = prepared.y[i];
        if (prepared.y[i] > maxY) maxY = prepared.y[i];
    }
    if (count == 0) minX = maxX = minY = maxY = 0;
    // Cell 0 (coordinates below minX - kReach) and the cell after the last
    // used one are zero guards.
    prepared.originX = minX - kReach - kAxisCellWidth;
    prepared.originY = minY - kReach - kAxisCellWidth;
    prepared.guardX = ((maxX + kReach - prepared.originX) >> kAxisCellShift) + 1;
    prepared.guardY = ((maxY + kReach - prepared.originY) >> kAxisCellShift) + 1;
    std::memset(prepared.nearX, 0, sizeof(uint64_t) * static_cast<size_t>(prepared.guardX + 1));
    std::memset(prepared.nearY, 0, sizeof(uint64_t) * static_cast<size_t>(prepared.guardY + 1));
    std::memset(prepared.nearDirection, 0, sizeof prepared.nearDirection);
    for (int32_t i = 0; i < count; ++i) {
        const uint64_t bit = uint64_t{1} << i;
        const int32_t x0 = (prepared.x[i] - kReach - prepared.originX) >> kAxisCellShift;
        const int32_t x1 = (prepared.x[i] + kReach - prepared.originX) >> kAxisCellShift;
        for (int32_t c = x0; c <= x1; ++c) prepared.nearX[c] |= bit;
        const int32_t y0 = (prepared.y[i] - kReach - prepared.originY) >> kAxisCellShift;
        const int32_t y1 = (prepared.y[i] + kReach - prepared.originY) >> kAxisCellShift;
        for (int32_t c = y0; c <= y1; ++c) prepared.nearY[c] |= bit;
        for (int32_t k = -kReach; k <= kReach; ++k) {
            prepared.nearDirection[normalDirection(prepared.direction[i] + k)] |= bit;
        }
    }
}

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
    buildMasks(prepared);
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
    buildMasks(prepared);
}

uint64_t kindMask(const PreparedReference& ref, int32_t kind) {
    uint64_t mask = 0;
    for (int32_t i = 0; i < ref.count; ++i) {
        if (ref.kind[i] == kind) mask |= uint64_t{1} << i;
    }
    return mask;
}

}  // namespace orvane::match_internal
