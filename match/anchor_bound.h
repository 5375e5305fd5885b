// A cheap, safe upper bound on the pairs an anchor can make, so that the
// search scores in full only the anchors that could beat the best so far.
//
// Turning and shifting the probe set so that probe minutia p lands on
// reference minutia r carries probe minutia j to within 1.5 pixels per axis
// (the add-one-half-and-cut rounding, negative results included) of the point
// whose offset from r, seen from r's direction, equals the offset of j from p
// seen from p's direction. A pair (reference i, aligned j) therefore needs
// those two local offsets within sqrt(99) + 1.5 * sqrt(2) = 12.07 pixels of
// each other, and the turn from r to i within 9 degrees of the turn from p to
// j (that is exactly the direction test). The grid holds the local offset and
// turn of every ordered probe pair (p, j), in cells by the kind of p, the turn
// and the offset; for a reference minutia r every (r, i), i = r included (r
// may take further aligned minutiae), is looked up there. The aligned
// minutiae found, with p itself, form per anchor a superset of those its
// scoring can pair; the anchor's score is at most 20 per pair of them.
#pragma once

#include <cstdint>

#include "formats/minutia.h"

namespace orvane::match_internal {

constexpr int32_t kMaxGridCells = 8192;
constexpr int32_t kTurnBins = 6;  // 60 degrees each, so a look-up of +-9 degrees spans at most two
constexpr int32_t kMaxOrderedPairs = kMaxMinutiae * (kMaxMinutiae - 1);

// Minutiae as the search reads them (coordinates 0..1023, directions 0..359).
struct MinutiaArrays {
    int32_t count;
    int32_t x[kMaxMinutiae];
    int32_t y[kMaxMinutiae];
    int32_t direction[kMaxMinutiae];
    int32_t kind[kMaxMinutiae];
};

struct ProbePairGrid {
    int32_t kindGroups;               // distinct probe kinds
    int32_t groupKind[kMaxMinutiae];  // kind of each group
    int32_t side;                       // cells per axis
    float origin;                       // offsets run from -origin to origin
    float cellSize;
    uint16_t start[kMaxGridCells + 1];  // first place in order of each cell
    uint16_t order[kMaxOrderedPairs];   // entries by cell (kind group of p, turn bin, y, x)
    // Entries in pair order: offset of j in p's frame, turn from p to j, p,
    // j and the kind group of j.
    float x[kMaxOrderedPairs];
    float y[kMaxOrderedPairs];
    int16_t turn[kMaxOrderedPairs];
    uint8_t anchor[kMaxOrderedPairs];
    uint8_t other[kMaxOrderedPairs];
    uint8_t otherGroup[kMaxOrderedPairs];
};

void buildProbePairGrid(const MinutiaArrays& probe, ProbePairGrid& grid);

// Kind group of a kind, or -1 when no probe minutia has it.
int32_t kindGroup(const ProbePairGrid& grid, int32_t kind);

// For reference minutia r: row[p] gets bit j for every probe minutia j that
// may pair under the anchor (r, p) (any kinds in the full search, the same
// kind in the quick search). Rows of anchors of other kinds stay zero.
void anchorRows(const ProbePairGrid& grid, const MinutiaArrays& reference, int32_t r, bool quick,
                uint64_t row[kMaxMinutiae]);

}  // namespace orvane::match_internal
