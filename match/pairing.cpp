// Pairing and scoring of one aligned probe set against the reference index:
// same kinds first in reference order, then (full search) different kinds
// among the minutiae left over. The plain version of this step is
// reference::scoreSet in tests/match/reference_matcher.cpp.
#include "match/match_internal.h"
#include "core/numeric.h"

namespace orvane::match_internal {

const int32_t kDistanceTable[kPairLimit][kPairLimit] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},     {1, 1, 2, 3, 4, 5, 6, 7, 8, 9},     {2, 2, 2, 3, 4, 5, 6, 7, 8, 9},
    {3, 3, 3, 4, 5, 5, 6, 7, 8, 9},     {4, 4, 4, 5, 5, 6, 7, 8, 8, 9},     {5, 5, 5, 5, 6, 7, 7, 8, 9, 10},
    {6, 6, 6, 6, 7, 7, 8, 9, 10, 10},   {7, 7, 7, 7, 8, 8, 9, 9, 10, 11},   {8, 8, 8, 8, 8, 9, 10, 10, 11, 12},
    {9, 9, 9, 9, 9, 10, 10, 11, 12, 12},
};

namespace {

inline int32_t absolute(int32_t v) { return v < 0 ? -v : v; }

inline int32_t distanceOf(const PreparedReference& ref, const AlignedView& a, int32_t i, int32_t j) {
    return kDistanceTable[absolute(ref.x[i] - a.x[j])][absolute(ref.y[i] - a.y[j])];
}

inline int32_t directionErrorOf(const PreparedReference& ref, const AlignedView& a, int32_t i, int32_t j) {
    int32_t d = a.direction[j];
    if (d >= 360) d -= 360;
    return directionDifference(ref.direction[i], d);
}

}  // namespace

PairScore scorePrepared(const PreparedReference& ref, const AlignedView& a, bool quick) {
    const int32_t nA = clampCount(a.count);
    const uint64_t anyKind = quick ? 0 : ~uint64_t{0};
    const bool wide = wideLookUpAvailable();
    // Reference minutiae within reach of each aligned minutia on both axes
    // and in direction (and of its kind in the quick search).
    uint64_t nearMask[kMaxMinutiae];
    uint64_t hits = 0;
    for (int32_t j = 0; j < nA; ++j) {
        const uint64_t m = nearReference(ref, a.x[j], a.y[j], a.direction[j], wide) & (a.sameKind[j] | anyKind);
        nearMask[j] = m;
        hits |= static_cast<uint64_t>(m != 0) << j;
    }
    return pairUp(ref, a, nearMask, hits, quick);
}

PairScore pairUp(const PreparedReference& ref, const AlignedView& a, const uint64_t* nearMask, uint64_t hits,
                 bool quick) {
    const int32_t nA = clampCount(a.count);
    const int32_t nR = ref.count;
    if (hits == 0 || nA == 0 || nR == 0) return {0, 0};
    const int32_t divisor = (nR + nA) * (nR + nA);

    if ((hits & (hits - 1)) == 0) {
        // One aligned minutia within reach (most anchors: only the anchor
        // itself): it pairs with the first reference minutia of its kind that
        // passes the test, else, in the full search, with the first of
        // another kind.
        const int32_t j = countTrailingZeros(hits);
        int32_t contribution = -1;
        for (int32_t phase = 1; phase <= (quick ? 1 : 2) && contribution < 0; ++phase) {
            const uint64_t kindBits = phase == 1 ? a.sameKind[j] : ~a.sameKind[j];
            uint64_t m = nearMask[j] & kindBits;
            while (m) {
                const int32_t i = countTrailingZeros(m);
                m &= m - 1;
                const int32_t dx = ref.x[i] - a.x[j];
                const int32_t dy = ref.y[i] - a.y[j];
                if (dx * dx + dy * dy >= kPairLimit * kPairLimit) continue;
                const int32_t d = distanceOf(ref, a, i, j);
                const int32_t e = directionErrorOf(ref, a, i, j);
                contribution = phase == 1 ? kMaxContribution - d - e : (kPairLimit - e) / 2 + (kPairLimit - d) / 2;
                break;
            }
        }
        if (contribution < 0) return {0, 0};
        return {pairingScore(1, contribution, divisor), 1};
    }

    // Rows of candidate pairs per reference minutia: bit j of sameRow[i]
    // (otherRow[i]) when i and j pass the pair test with the same (different)
    // kinds.
    uint64_t sameRow[kMaxMinutiae];
    uint64_t otherRow[kMaxMinutiae];
    uint64_t sameRows = 0;
    uint64_t otherRows = 0;
    while (hits) {
        const int32_t j = countTrailingZeros(hits);
        hits &= hits - 1;
        const uint64_t bitJ = uint64_t{1} << j;
        uint64_t m = nearMask[j];
        while (m) {
            const int32_t i = countTrailingZeros(m);
            m &= m - 1;
            const int32_t dx = ref.x[i] - a.x[j];
            const int32_t dy = ref.y[i] - a.y[j];
            if (dx * dx + dy * dy >= kPairLimit * kPairLimit) continue;
            const uint64_t bitI = uint64_t{1} << i;
            if (a.sameKind[j] & bitI) {
                if (!(sameRows & bitI)) sameRow[i] = 0;
                sameRows |= bitI;
                sameRow[i] |= bitJ;
            } else {
                if (!(otherRows & bitI)) otherRow[i] = 0;
                otherRows |= bitI;
                otherRow[i] |= bitJ;
            }
        }
    }

    // Phase 1, same kinds, in record order; an aligned minutia pairs once, a
    // reference minutia with every free candidate in its row.
    uint64_t usedAligned = 0;
    uint64_t usedReference = 0;
    int32_t n = 0;
    int32_t sum = 0;
    while (sameRows) {
        const int32_t i = countTrailingZeros(sameRows);
        sameRows &= sameRows - 1;
        uint64_t free = sameRow[i] & ~usedAligned;
        if (!free) continue;
        usedReference |= uint64_t{1} << i;
        usedAligned |= free;
        while (free) {
            const int32_t j = countTrailingZeros(free);
            free &= free - 1;
            ++n;
            sum += kMaxContribution - distanceOf(ref, a, i, j) - directionErrorOf(ref, a, i, j);
            if (quick && n >= kQuickPairs) {
                const int32_t interim = pairingScore(n, sum, divisor);
                if (interim > kQuickScore) return {interim, n};
            }
        }
    }

    // Phase 2, different kinds among the minutiae left over (full search).
    if (!quick) {
        otherRows &= ~usedReference;
        while (otherRows) {
            const int32_t i = countTrailingZeros(otherRows);
            otherRows &= otherRows - 1;
            uint64_t free = otherRow[i] & ~usedAligned;
            usedAligned |= free;
            while (free) {
                const int32_t j = countTrailingZeros(free);
                free &= free - 1;
                ++n;
                sum += (kPairLimit - directionErrorOf(ref, a, i, j)) / 2 + (kPairLimit - distanceOf(ref, a, i, j)) / 2;
            }
        }
    }
    return {pairingScore(n, sum, divisor), n};
}

}  // namespace orvane::match_internal
