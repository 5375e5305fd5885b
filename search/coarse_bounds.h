// A coarse first stage for the anchor bounds (anchor_bounds.h): per probe a
// table (~0.8 MB) of how many probe minutiae j each cell of local offset and
// relative direction may pair with, for every anchor p at once. Summed over
// the reference minutiae i of an anchor r with SIMD adds, it bounds the pairs
// of every anchor (r, p) loosely (each i adds every j whose zone holds its
// cell; a j may be counted again for another i), but in a few microseconds:
// where an entry would need many pairs (a high floor) it settles most entries
// and bounds the anchors of the rest well enough.
//
// Why the bound holds: as in anchor_bounds.h a pair (j, i) of anchor (p, r)
// has Lp(j) and Lr(i) less than kLocalTolerance apart (12.5, above the
// 12.03 a pair can reach) and relative directions at most 9 apart. Each pair
// takes its own j, so the pairs are at most the sum over i of the number of j
// whose zone (the cells within kLocalTolerance and 9 degrees of j) holds i's
// cell. The cells wrap around (a torus), which only adds to the counts.
#pragma once

#include <cstdint>
#include <vector>

#include "match/match_internal.h"

namespace orvane::search {

class CoarseAnchorBounds {
public:
    void prepare(const match_internal::PreparedProbe& probe);

    // rows[r * kAnchorBoundRow + p]: at most the pairs of anchor (r, p) (held
    // at 255), for the first `count` records of a reference (0..60). Returns
    // the largest value over the anchors of the same kind (0 when none).
    int32_t anchorBounds(const match_internal::CompactMinutia* reference, int32_t count, uint8_t* rows) const;

private:
    std::vector<uint8_t> sameKind_;  // per kind, a mask over the probe anchors of that kind
    std::vector<uint8_t> counts_;  // cell-major, kAnchorBoundRow probe anchors per cell
};

}  // namespace orvane::search
