// Upper bounds on the pairs each anchor of a comparison can form, read from
// the neighbourhoods of the two anchor minutiae, which turning and shifting
// leave unchanged. Prepared once per probe; applied to a gallery entry's
// records before anything else is built for it, they let the search drop most
// entries, and most anchors of the rest, without aligning anything
// (match_internal::searchPrepared's pairBound).
//
// Why the bound holds. Under anchor (p, r) the search turns the probe by
// rot = dir(r) - dir(p) about p and shifts p onto r, then rounds each
// coordinate by truncating v + 0.5. A pair (j, i) needs aligned j within
// sqrt(98) of i (integer offsets with dx^2 + dy^2 < 100) and a direction
// error below 10 degrees. Seen in each anchor's own frame (turned by minus its
// direction, which keeps lengths), j at Lp(j) and i at Lr(i) are then less
// than sqrt(98) + e + 1e-3 apart, where e bounds the rounding: a reference
// minutia with x and y of at least 10 only pairs with aligned coordinates of
// 1 or more, which come from v >= 0.5 and are at most 0.5 off per axis
// (e = 0.5 * sqrt(2)); near the frame's low edges a rounded negative value
// may be up to 1.5 off (e = 1.5 * sqrt(2)). The 1e-3 covers the turn table,
// a whole turn of 360 steps being 6e-8 short of 2 pi, and float storage of
// offsets up to 1450; the reference's offsets, computed in single precision,
// get their own allowance (anchor_bounds.cpp). Their directions relative to
// the anchors differ by at most 9, exactly (integers).
//
// Each pair takes its own aligned j, so the pairs of anchor (p, r) are at most
// the number of distinct j for which some i passes that test: the bound this
// class counts, exactly, with one bit per j. The reference test in
// tests/search/anchor_bounds_test.cpp holds it against the plain transcription.
//
// Only anchors of one kind are ever tried, so only their bounds are counted.
//
// A cheaper bound needs no zone read. The zones that pass are among those
// the look-ups list, so the pairs of anchor (p, r) are also at most 1 plus,
// over the look-ups (r, i), the number of zones of p each lists. A key keeps
// which anchors p it lists zones of and the most zones any one of them has
// there, which bounds that number. A search only needs to know whether an
// anchor may reach some number of pairs (`needed`): where this bound stays
// below it for every anchor of an r, r's row keeps it and its zones are
// never tested, which settles most r of most entries.
//
// How it is fast. The probe keeps, for every anchor p and every other j,
// Lp(j) (in fixed point) listed in every grid cell (8 units) and 10-degree bin
// of relative direction that its tolerance zone touches, the zones of anchors
// of the probe's first kind first, and per key its listed word (the anchors
// and the most zones of one): a few MB, built once per probe. An entry then
// costs one grid look-up per (r, i), which reads the key's listed word: for a
// non-mated probe needing 8 pairs these settle about 80% of the r. The other
// r read the part of the key's list of r's kind, and make an exact test per
// listed (p, j), about one on average. The look-ups are made sixteen at a
// time, an r's listed zones gathered into one run of candidates, the
// candidates tested sixteen at a time (AVX-512; the portable form does the
// same one at a time).
#pragma once

#include <cstdint>
#include <vector>

#include "match/match_internal.h"

namespace orvane::search {

struct BoundsEntry;
struct BoundsCandidates;

// Which form computes the bounds. Fastest: the AVX-512 form where the
// processor has it, else the portable form with every row exact (read one
// bit at a time, the listed words cost it more than they save). Portable: the
// portable form settling rows as the AVX-512 form does, with the same values,
// which the tests hold the AVX-512 form to.
enum class BoundsForm { Fastest, Portable };

class AnchorBounds {
public:
    // Builds the zone lists of every probe anchor.
    void prepare(const match_internal::PreparedProbe& probe);

    // rows[r * kAnchorBoundRow + p] for p of r's kind: at most the pairs of
    // anchor (r, p), for the first `count` records of a reference (count
    // 0..60); the other bytes of a row are 1. A row whose listed bounds (see
    // above) all stay below `needed` may hold them (see BoundsForm); the
    // others hold the number of distinct probe minutiae that may pair under
    // each anchor, exactly. `needed` 0 or 1: every row exact. Returns the
    // largest value over the anchors of the same kind (0 when there are none).
    int32_t anchorBounds(const match_internal::CompactMinutia* reference, int32_t count, uint8_t* rows,
                         int32_t needed = 0, BoundsForm form = BoundsForm::Fastest) const;
    static bool wideAvailable();

    std::size_t memoryBytes() const {
        return starts_.capacity() * sizeof(uint32_t) + zones_.capacity() * sizeof(uint32_t) +
               listed_.capacity() * sizeof(uint64_t);
    }

private:
    int32_t boundsPortable(const BoundsEntry& entry, BoundsCandidates& candidates, uint8_t* rows,
                           int32_t needed) const;
    int32_t boundsWide(const BoundsEntry& entry, BoundsCandidates& candidates, uint8_t* rows, int32_t needed) const;

    // Whether some probe minutia has this kind (a record's kind is 0..255).
    bool probeHasKind(int32_t kind) const { return kind >= 0 && kind < 256 && kindPresent_[kind]; }

    int32_t probeCount_ = 0;
    int32_t firstKind_ = 0;      // kind of probe minutia 0: its anchors' zones come first in a key
    bool kindPresent_[256] = {};
    int32_t kind_[match_internal::kPaddedMinutiae] = {};  // zero after probeCount_
    int32_t originX_ = 0, originY_ = 0;  // low corner of the grid, fixed point
    int32_t width_ = 0, height_ = 0;    // cells per axis
    // Per grid key, its first zone and above (kFirstBits) how many of its
    // zones belong to anchors of firstKind_; then the end, and an empty key.
    std::vector<uint32_t> starts_;
    // The zones listed under the keys, in key order, two words each: Lp(j)
    // in fixed point (x in the low half, y in the high half), then
    // p | j << 8 | turn << 16 with turn = dir(j) - dir(p), 0..359.
    std::vector<uint32_t> zones_;
    // Per key (as starts_): bit p set where the key lists a zone of anchor p,
    // and in the top four bits the most zones any one p has there (15: that
    // many or more).
    std::vector<uint64_t> listed_;
};

}  // namespace orvane::search
