// Upper bounds on the pairs each anchor of a comparison can form, read from
// the neighbourhoods of the two anchor minutiae, which turning and shifting
// leave unchanged. Prepared once per probe (a table of ~0.8 MB); applied to
// a reference in a few microseconds, it lets the anchor search skip anchors
// without aligning anything (match_internal::searchPrepared's pairBound).
//
// Why the bound holds. Under anchor (p, r) the search turns the probe by
// rot = dir(r) - dir(p) about p and shifts p onto r, then rounds each
// coordinate by truncating v + 0.5 (less than 1.5 off, negative values
// included), so an aligned minutia j lies within 1.5 * sqrt(2) < 2.13 of
// r + R(rot) (j - p). A pair (j, i) needs |aligned j - i| < 10 and a direction
// error below 10 degrees. Seen in each anchor's own frame (turned by minus its
// direction, which keeps lengths), j at Lp(j) and i at Lr(i) are then less
// than 10 + 2.13 + 1e-4 < kLocalTolerance apart (1e-4 covers the turn table
// and double rounding), and their directions relative to the anchors differ
// by at most 9. Each pair takes its own j, so the pairs are at most the number
// of j with such an i, which is at most the sum over i of the number of j
// whose zone (the cells within kLocalTolerance and 9 degrees of j) holds i's
// cell. The probe side keeps, per cell, that number of j for every p; the
// cells wrap around (a torus), which only adds to the counts.
#pragma once

#include <cstdint>
#include <vector>

#include "match/match_internal.h"

namespace orvane::search {

class AnchorBounds {
public:
    // Builds the zone counts of every probe anchor.
    void prepare(const match_internal::PreparedProbe& probe);

    // rows[r * kAnchorBoundRow + p]: at most the pairs of anchor (r, p), held
    // at 255.
    void anchorBounds(const match_internal::PreparedReference& reference, uint8_t* rows) const;

    std::size_t memoryBytes() const { return counts_.capacity(); }

private:
    std::vector<uint8_t> counts_;  // cell-major, kAnchorBoundRow probe anchors per cell
};

}  // namespace orvane::search
