#include "match/matcher.h"

#include <cmath>
#include <cstring>

#include "formats/feature_template.h"
#include "match/align.h"
#include "match/anchor_bound.h"
#include "match/match_internal.h"
#include "workspace/numeric.h"

namespace orvane {

namespace match_internal {

const int32_t kDistanceTable[kPairLimit][kPairLimit] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},     {1, 1, 2, 3, 4, 5, 6, 7, 8, 9},     {2, 2, 2, 3, 4, 5, 6, 7, 8, 9},
    {3, 3, 3, 4, 5, 5, 6, 7, 8, 9},     {4, 4, 4, 5, 5, 6, 7, 8, 8, 9},     {5, 5, 5, 5, 6, 7, 7, 8, 9, 10},
    {6, 6, 6, 6, 7, 7, 8, 9, 10, 10},   {7, 7, 7, 7, 8, 8, 9, 9, 10, 11},   {8, 8, 8, 8, 8, 9, 10, 10, 11, 12},
    {9, 9, 9, 9, 9, 10, 10, 11, 12, 12},
};

namespace {

constexpr int32_t kReach = kPairLimit - 1;  // largest offset or direction difference that pairs
constexpr int32_t kScoreScale = 240;
constexpr int32_t kQuickPairs = 8;
constexpr int32_t kQuickScore = 100;

inline bool isAvailableRing(int32_t v) { return v >= 0 && v < 180; }

inline int32_t lowestBit(uint64_t v) { return __builtin_ctzll(v); }

inline int32_t absolute(int32_t v) { return v < 0 ? -v : v; }

// Cell of a coordinate in one axis table: coordinates outside the tables land
// on the zero guard cell. The subtraction is done modulo 2^32, so a negative
// difference becomes a huge one and every int32 coordinate is safe.
inline uint32_t axisCell(int32_t v, int32_t origin, int32_t guard) {
    const uint32_t c = static_cast<uint32_t>(v) - static_cast<uint32_t>(origin);
    return c < static_cast<uint32_t>(guard) ? c : static_cast<uint32_t>(guard);
}

inline int32_t distanceOf(const PreparedReference& ref, const AlignedView& a, int32_t i, int32_t j) {
    return kDistanceTable[absolute(ref.x[i] - a.x[j])][absolute(ref.y[i] - a.y[j])];
}

inline int32_t directionErrorOf(const PreparedReference& ref, const AlignedView& a, int32_t i, int32_t j) {
    int32_t d = a.direction[j];
    if (d >= 360) d -= 360;
    return directionDifference(ref.direction[i], d);
}

}  // namespace

void ringQuantities(const Minutia& m, int32_t quantity[4]) {
    const int32_t r0 = m.ringOrientation[0];
    const int32_t r1 = m.ringOrientation[1];
    const int32_t r2 = m.ringOrientation[2];
    const bool a0 = isAvailableRing(r0);
    const bool a1 = isAvailableRing(r1);
    const bool a2 = isAvailableRing(r2);
    quantity[0] = a0 ? orientationDifference(r0, normalDirection(m.direction) % 180) : -1;
    quantity[1] = a0 && a1 ? orientationDifference(r0, r1) : -1;
    quantity[2] = a1 && a2 ? orientationDifference(r1, r2) : -1;
    quantity[3] = a0 && a2 ? orientationDifference(r0, r2) : -1;
}

void prepareReference(const MinutiaSet& reference, PreparedReference& prepared) {
    const int32_t count = clampCount(reference.count);
    prepared.count = count;
    int32_t minX = kCoordinateLimit, maxX = 0, minY = kCoordinateLimit, maxY = 0;
    for (int32_t i = 0; i < count; ++i) {
        const Minutia& m = reference.minutiae[i];
        const int32_t x = clampCoordinate(m.x);
        const int32_t y = clampCoordinate(m.y);
        prepared.x[i] = x;
        prepared.y[i] = y;
        prepared.direction[i] = normalDirection(m.direction);
        prepared.kind[i] = m.kind;
        if (x < minX) minX = x;
        if (x > maxX) maxX = x;
        if (y < minY) minY = y;
        if (y > maxY) maxY = y;
    }
    if (count == 0) minX = maxX = minY = maxY = 0;
    // Cell 0 and the cell after the last used one are zero guards.
    prepared.originX = minX - kReach - 1;
    prepared.originY = minY - kReach - 1;
    prepared.guardX = maxX - prepared.originX + kReach + 1;
    prepared.guardY = maxY - prepared.originY + kReach + 1;
    std::memset(prepared.nearX, 0, sizeof(uint64_t) * static_cast<size_t>(prepared.guardX + 1));
    std::memset(prepared.nearY, 0, sizeof(uint64_t) * static_cast<size_t>(prepared.guardY + 1));
    std::memset(prepared.nearDirection, 0, sizeof prepared.nearDirection);
    for (int32_t i = 0; i < count; ++i) {
        const uint64_t bit = uint64_t{1} << i;
        for (int32_t k = -kReach; k <= kReach; ++k) {
            prepared.nearX[prepared.x[i] + k - prepared.originX] |= bit;
            prepared.nearY[prepared.y[i] + k - prepared.originY] |= bit;
            const int32_t d = normalDirection(prepared.direction[i] + k);
            prepared.nearDirection[d] |= bit;
            prepared.nearDirection[d + 360] |= bit;
        }
    }
}

PairScore scorePrepared(const PreparedReference& ref, const AlignedView& a, bool quick) {
    const int32_t nA = clampCount(a.count);
    const int32_t nR = ref.count;
    if (nA == 0 || nR == 0) return {0, 0};
    const int32_t divisor = (nR + nA) * (nR + nA);
    const uint64_t anyKind = quick ? 0 : ~uint64_t{0};

    // Reference minutiae within reach of each aligned minutia on both axes
    // and in direction (and of its kind in the quick search).
    uint64_t nearMask[kMaxMinutiae];
    uint64_t hits = 0;
    for (int32_t j = 0; j < nA; ++j) {
        const uint64_t m = ref.nearX[axisCell(a.x[j], ref.originX, ref.guardX)] &
                           ref.nearY[axisCell(a.y[j], ref.originY, ref.guardY)] & ref.nearDirection[a.direction[j]] &
                           (a.sameKind[j] | anyKind);
        nearMask[j] = m;
        hits |= static_cast<uint64_t>(m != 0) << j;
    }
    if (hits == 0) return {0, 0};

    // Rows of candidate pairs per reference minutia: bit j of sameRow[i]
    // (otherRow[i]) when i and j pass the pair test with the same (different)
    // kinds.
    uint64_t sameRow[kMaxMinutiae];
    uint64_t otherRow[kMaxMinutiae];
    uint64_t sameRows = 0;
    uint64_t otherRows = 0;
    while (hits) {
        const int32_t j = lowestBit(hits);
        hits &= hits - 1;
        const uint64_t bitJ = uint64_t{1} << j;
        uint64_t m = nearMask[j];
        while (m) {
            const int32_t i = lowestBit(m);
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
        const int32_t i = lowestBit(sameRows);
        sameRows &= sameRows - 1;
        uint64_t free = sameRow[i] & ~usedAligned;
        if (!free) continue;
        usedReference |= uint64_t{1} << i;
        usedAligned |= free;
        while (free) {
            const int32_t j = lowestBit(free);
            free &= free - 1;
            ++n;
            sum += 20 - distanceOf(ref, a, i, j) - directionErrorOf(ref, a, i, j);
            if (quick && n >= kQuickPairs) {
                const int32_t interim = n * sum * kScoreScale / divisor;
                if (interim > kQuickScore) return {interim, n};
            }
        }
    }

    // Phase 2, different kinds among the minutiae left over (full search).
    if (!quick) {
        otherRows &= ~usedReference;
        while (otherRows) {
            const int32_t i = lowestBit(otherRows);
            otherRows &= otherRows - 1;
            uint64_t free = otherRow[i] & ~usedAligned;
            usedAligned |= free;
            while (free) {
                const int32_t j = lowestBit(free);
                free &= free - 1;
                ++n;
                sum += (kPairLimit - directionErrorOf(ref, a, i, j)) / 2 + (kPairLimit - distanceOf(ref, a, i, j)) / 2;
            }
        }
    }
    return {n * sum * kScoreScale / divisor, n};
}

}  // namespace match_internal

using namespace match_internal;

namespace {

// The probe set in the form the search reads it.
struct PreparedProbe {
    MinutiaArrays set;
    double xd[kMaxMinutiae];
    double yd[kMaxMinutiae];
    int32_t ring[kMaxMinutiae][4];
};

void prepareProbe(const MinutiaSet& probe, const PreparedReference& ref, PreparedProbe& prepared,
                  AlignedView& view, bool quick) {
    const int32_t count = clampCount(probe.count);
    prepared.set.count = count;
    view.count = count;
    for (int32_t j = 0; j < count; ++j) {
        const Minutia& m = probe.minutiae[j];
        prepared.set.x[j] = clampCoordinate(m.x);
        prepared.set.y[j] = clampCoordinate(m.y);
        prepared.set.direction[j] = normalDirection(m.direction);
        prepared.set.kind[j] = m.kind;
        prepared.xd[j] = prepared.set.x[j];
        prepared.yd[j] = prepared.set.y[j];
        if (quick) ringQuantities(m, prepared.ring[j]);
        uint64_t same = 0;
        for (int32_t i = 0; i < ref.count; ++i) same |= static_cast<uint64_t>(ref.kind[i] == m.kind) << i;
        view.sameKind[j] = same;
    }
}

constexpr int32_t kQuickDirectScorings = 64;

inline int32_t popCount(uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555ull);
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int32_t>((v * 0x0101010101010101ull) >> 56);
}

// Largest score an anchor with at most n pairs can reach (at most 20 per pair).
inline int32_t scoreBound(int32_t n, int32_t divisor) { return n * 20 * n * 240 / divisor; }

void searchPrepared(const MinutiaSet& probeSet, const MinutiaSet& referenceSet, MatchResult& best, bool quick) {
    best = MatchResult{0, 0, 0, 0, 0};
    PreparedReference ref;
    prepareReference(referenceSet, ref);
    PreparedProbe probe;
    AlignedView view;
    prepareProbe(probeSet, ref, probe, view, quick);
    const int32_t nP = probe.set.count;
    const int32_t nR = ref.count;
    if (nP == 0 || nR == 0) return;
    const int32_t divisor = (nP + nR) * (nP + nR);

    MinutiaArrays refArrays;
    refArrays.count = nR;
    std::memcpy(refArrays.x, ref.x, sizeof(int32_t) * static_cast<size_t>(nR));
    std::memcpy(refArrays.y, ref.y, sizeof(int32_t) * static_cast<size_t>(nR));
    std::memcpy(refArrays.direction, ref.direction, sizeof(int32_t) * static_cast<size_t>(nR));
    std::memcpy(refArrays.kind, ref.kind, sizeof(int32_t) * static_cast<size_t>(nR));
    // The pair bound costs a grid over the probe pairs and a look-up per
    // reference minutia; the quick search, which a genuine pair ends within a
    // few anchors, takes it only after that many full scorings.
    ProbePairGrid grid;
    bool gridReady = false;
    int32_t directScorings = quick ? kQuickDirectScorings : 0;

    uint64_t row[kMaxMinutiae];
    for (int32_t r = 0; r < nR; ++r) {
        const uint64_t bitR = uint64_t{1} << r;
        int32_t referenceRing[4] = {-1, -1, -1, -1};
        if (quick) ringQuantities(referenceSet.minutiae[r], referenceRing);
        bool rowsReady = false;
        for (int32_t p = 0; p < nP; ++p) {
            if (!(view.sameKind[p] & bitR)) continue;
            if (quick && !ringQuantitiesAgree(probe.ring[p], referenceRing)) continue;
            if (directScorings > 0) {
                --directScorings;
            } else {
                if (!gridReady) {
                    buildProbePairGrid(probe.set, grid);
                    gridReady = true;
                }
                if (!rowsReady) {
                    anchorRows(grid, refArrays, r, quick, row);
                    rowsReady = true;
                }
                const int32_t pairBound = popCount(row[p] | (uint64_t{1} << p));
                if (scoreBound(pairBound, divisor) <= best.score) continue;
            }

            const int32_t rotation = turnAngle(probe.set.direction[p], ref.direction[r]);
            const int32_t shiftX = ref.x[r] - probe.set.x[p];
            const int32_t shiftY = ref.y[r] - probe.set.y[p];
            double c = 0.0;
            double s = 0.0;
            rotationCosSin(rotation, c, s);
            const double xc = probe.xd[p];
            const double yc = probe.yd[p];
            const double sx = shiftX;
            const double sy = shiftY;
            for (int32_t j = 0; j < nP; ++j) {
                const double u = probe.xd[j] - xc;
                const double v = probe.yd[j] - yc;
                view.x[j] = static_cast<int32_t>(u * c + xc - v * s + sx + 0.5);
                view.y[j] = static_cast<int32_t>(v * c + u * s + sy + yc + 0.5);
                view.direction[j] = probe.set.direction[j] + rotation;
            }
            const PairScore scored = scorePrepared(ref, view, quick);
            if (scored.score > best.score) {
                best = MatchResult{scored.score, rotation, shiftX, shiftY, scored.pairCount};
                if (quick && scored.pairCount >= kQuickPairs && scored.score > kQuickScore) return;
            }
        }
    }
}

}  // namespace

AlignmentScore scoreAlignedSet(const MinutiaSet& aligned, const MinutiaSet& reference, int32_t matchMode) {
    PreparedReference ref;
    prepareReference(reference, ref);
    AlignedView view;
    view.count = clampCount(aligned.count);
    for (int32_t j = 0; j < view.count; ++j) {
        const Minutia& m = aligned.minutiae[j];
        view.x[j] = m.x;
        view.y[j] = m.y;
        view.direction[j] = normalDirection(m.direction);
        uint64_t same = 0;
        for (int32_t i = 0; i < ref.count; ++i) same |= static_cast<uint64_t>(ref.kind[i] == m.kind) << i;
        view.sameKind[j] = same;
    }
    const PairScore scored = scorePrepared(ref, view, matchMode == kQuickSearch);
    return AlignmentScore{scored.score, scored.pairCount};
}

bool ringOrientationsAgree(const Minutia& probe, const Minutia& reference) {
    int32_t p[4];
    int32_t r[4];
    ringQuantities(probe, p);
    ringQuantities(reference, r);
    return ringQuantitiesAgree(p, r);
}

void searchBestAlignment(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result,
                         int32_t matchMode) {
    searchPrepared(probe, reference, result, matchMode == kQuickSearch);
}

void matchMinutiaSets(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode) {
    searchBestAlignment(probe, reference, result, matchMode);
    if (matchMode != kQuickSearch && result.matchedCount < 15) {
        result.score = roundHalfUp(std::sin(result.matchedCount * kPiOver30) * result.score);
    }
}

int32_t verifyTemplates(const uint8_t* template1, const uint8_t* template2, int32_t* score, int32_t flag) {
    constexpr int32_t kBadTemplate = 10700;
    if (!score) return kBadTemplate;
    MinutiaSet probe;
    MinutiaSet reference;
    if (unpackTemplate(template1, &probe) != 0) return kBadTemplate;
    if (unpackTemplate(template2, &reference) != 0) return kBadTemplate;
    const int32_t matchMode = (flag & 0xFF) != 0 ? kQuickSearch : kFullSearch;
    *score = 0;
    MatchResult result;
    matchMinutiaSets(probe, reference, result, matchMode);
    *score = result.matchedCount < 8 ? 0 : result.score;
    return 0;
}

}  // namespace orvane
