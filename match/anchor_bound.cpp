#include "match/anchor_bound.h"

#include <cmath>
#include <cstring>

#include "match/match_internal.h"

namespace orvane::match_internal {

namespace {

// 9.95 (the largest pairing distance, sqrt 99) plus 1.5 * sqrt 2 (rounding
// of both axes) is 12.072; the rest covers float arithmetic and the turn
// constant's tiny departure from a whole circle.
constexpr float kReach = 12.2f;
constexpr float kReachSquared = kReach * kReach;
constexpr int32_t kTurnReach = 9;
constexpr int32_t kTurnBinWidth = 360 / kTurnBins;

inline int32_t turnOf(int32_t from, int32_t to) {
    const int32_t t = to - from;
    return t < 0 ? t + 360 : t;
}

inline void localOffset(int32_t dx, int32_t dy, double c, double s, float& x, float& y) {
    x = static_cast<float>(dx * c + dy * s);
    y = static_cast<float>(dy * c - dx * s);
}

struct TurnTables {
    bool near[720];           // difference of two turns + 360 -> within kTurnReach
    int8_t lowBin[360];       // bin of turn - kTurnReach
    int8_t highBin[360];      // bin of turn + kTurnReach
    constexpr TurnTables() : near(), lowBin(), highBin() {
        for (int32_t d = 0; d < 720; ++d) {
            int32_t a = d - 360;
            a = a < 0 ? -a : a;
            a = a > 180 ? 360 - a : a;
            near[d] = a <= kTurnReach;
        }
        for (int32_t t = 0; t < 360; ++t) {
            lowBin[t] = static_cast<int8_t>(((t + 360 - kTurnReach) % 360) / kTurnBinWidth);
            highBin[t] = static_cast<int8_t>(((t + kTurnReach) % 360) / kTurnBinWidth);
        }
    }
};
constexpr TurnTables kTurnTables;

// Cell of a scaled offset, held within 0..side - 1.
inline int32_t cellIndex(float v, int32_t side) {
    const int32_t c = v < 0.0f ? 0 : static_cast<int32_t>(v);
    return c >= side ? side - 1 : c;
}

}  // namespace

int32_t kindGroup(const ProbePairGrid& grid, int32_t kind) {
    for (int32_t g = 0; g < grid.kindGroups; ++g) {
        if (grid.groupKind[g] == kind) return g;
    }
    return -1;
}

void buildProbePairGrid(const MinutiaArrays& probe, ProbePairGrid& grid) {
    const int32_t n = probe.count;
    grid.kindGroups = 0;
    uint8_t groupOf[kMaxMinutiae];
    for (int32_t p = 0; p < n; ++p) {
        int32_t g = kindGroup(grid, probe.kind[p]);
        if (g < 0) {
            g = grid.kindGroups++;
            grid.groupKind[g] = probe.kind[p];
        }
        groupOf[p] = static_cast<uint8_t>(g);
    }
    double cosine[kMaxMinutiae];
    double sine[kMaxMinutiae];
    for (int32_t p = 0; p < n; ++p) rotationCosSin(probe.direction[p], cosine[p], sine[p]);

    // The local offset of every ordered pair, and their extent.
    float extent = 1.0f;
    int32_t k = 0;
    for (int32_t p = 0; p < n; ++p) {
        for (int32_t j = 0; j < n; ++j) {
            if (j == p) continue;
            float x, y;
            localOffset(probe.x[j] - probe.x[p], probe.y[j] - probe.y[p], cosine[p], sine[p], x, y);
            grid.x[k] = x;
            grid.y[k] = y;
            grid.turn[k] = static_cast<int16_t>(turnOf(probe.direction[p], probe.direction[j]));
            grid.anchor[k] = static_cast<uint8_t>(p);
            grid.other[k] = static_cast<uint8_t>(j);
            grid.otherGroup[k] = groupOf[j];
            const float ax = x < 0.0f ? -x : x, ay = y < 0.0f ? -y : y;
            extent = ax > extent ? ax : extent;
            extent = ay > extent ? ay : extent;
            ++k;
        }
    }
    const int32_t entries = k;
    grid.origin = extent + 1.0f;

    // Cells at least twice the reach wide, so a look-up spans at most 2 x 2.
    const int32_t planes = (grid.kindGroups > 0 ? grid.kindGroups : 1) * kTurnBins;
    int32_t sideLimit = static_cast<int32_t>(std::sqrt(static_cast<double>(kMaxGridCells / planes)));
    if (sideLimit < 1) sideLimit = 1;
    float cell = 2.0f * grid.origin / static_cast<float>(sideLimit);
    if (cell < 2.0f * kReach) cell = 2.0f * kReach;
    grid.cellSize = cell;
    int32_t side = static_cast<int32_t>(2.0f * grid.origin / cell) + 1;
    if (side > sideLimit) side = sideLimit;
    grid.side = side;
    const float inverse = 1.0f / cell;
    const int32_t cells = planes * side * side;

    // Counting sort of the entries by cell: counts in start[cell + 1].
    uint16_t cellOf[kMaxOrderedPairs];
    std::memset(grid.start, 0, sizeof(uint16_t) * static_cast<size_t>(cells + 1));
    for (k = 0; k < entries; ++k) {
        const int32_t plane = groupOf[grid.anchor[k]] * kTurnBins + grid.turn[k] / kTurnBinWidth;
        const int32_t id = (plane * side + cellIndex((grid.y[k] + grid.origin) * inverse, side)) * side +
                           cellIndex((grid.x[k] + grid.origin) * inverse, side);
        cellOf[k] = static_cast<uint16_t>(id);
        ++grid.start[id + 1];
    }
    // start[cell + 1] becomes the first place of the cell and serves as the
    // cursor of the scatter; afterwards it holds the end of the cell, which
    // is the start of the next one.
    for (int32_t id = 1; id <= cells; ++id) grid.start[id] = static_cast<uint16_t>(grid.start[id] + grid.start[id - 1]);
    for (int32_t id = cells - 1; id >= 0; --id) grid.start[id + 1] = grid.start[id];
    uint16_t* cursor = grid.start + 1;
    for (k = 0; k < entries; ++k) grid.order[cursor[cellOf[k]]++] = static_cast<uint16_t>(k);
}

void anchorRows(const ProbePairGrid& grid, const MinutiaArrays& reference, int32_t r, bool quick,
                uint64_t row[kMaxMinutiae]) {
    std::memset(row, 0, sizeof(uint64_t) * kMaxMinutiae);
    const int32_t plane = kindGroup(grid, reference.kind[r]);
    if (plane < 0) return;
    double c = 0.0, s = 0.0;
    rotationCosSin(reference.direction[r], c, s);
    const int32_t side = grid.side;
    const float origin = grid.origin;
    const float inverse = 1.0f / grid.cellSize;
    const float limit = static_cast<float>(side);
    for (int32_t i = 0; i < reference.count; ++i) {
        float qx, qy;
        localOffset(reference.x[i] - reference.x[r], reference.y[i] - reference.y[r], c, s, qx, qy);
        const float lowX = (qx - kReach + origin) * inverse, highX = (qx + kReach + origin) * inverse;
        const float lowY = (qy - kReach + origin) * inverse, highY = (qy + kReach + origin) * inverse;
        if (highX < 0.0f || highY < 0.0f || lowX >= limit || lowY >= limit) continue;
        const int32_t x0 = cellIndex(lowX, side), x1 = cellIndex(highX, side);
        const int32_t y0 = cellIndex(lowY, side), y1 = cellIndex(highY, side);
        const int32_t turn = turnOf(reference.direction[r], reference.direction[i]);
        // In the quick search only same-kind pairs count: the kind group of
        // i must be that of j.
        const int32_t wantGroup = quick ? kindGroup(grid, reference.kind[i]) : -1;
        if (quick && wantGroup < 0) continue;
        const bool* turnNear = kTurnTables.near + 360 - turn;  // indexed by the entry's turn
        const int32_t lowBin = kTurnTables.lowBin[turn];
        const int32_t highBin = kTurnTables.highBin[turn];
        for (int32_t bin = lowBin;; bin = highBin) {
            const uint16_t* planeStart = grid.start + (plane * kTurnBins + bin) * side * side;
            for (int32_t cy = y0; cy <= y1; ++cy) {
                // Cells x0..x1 of a row are consecutive.
                const int32_t last = planeStart[cy * side + x1 + 1];
                for (int32_t at = planeStart[cy * side + x0]; at < last; ++at) {
                    const int32_t k = grid.order[at];
                    const float ex = grid.x[k] - qx, ey = grid.y[k] - qy;
                    const bool near = (ex * ex + ey * ey < kReachSquared) & turnNear[grid.turn[k]] &
                                      (!quick | (grid.otherGroup[k] == wantGroup));
                    row[grid.anchor[k]] |= static_cast<uint64_t>(near) << grid.other[k];
                }
            }
            if (bin == highBin) break;
        }
    }
}

}  // namespace orvane::match_internal
