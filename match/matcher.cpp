#include "match/matcher.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ORVANE_MATCH_WIDE 1
#include <immintrin.h>
#endif

#include "formats/feature_template.h"
#include "match/align.h"
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
        const int32_t j = lowestBit(hits);
        int32_t contribution = -1;
        for (int32_t phase = 1; phase <= (quick ? 1 : 2) && contribution < 0; ++phase) {
            const uint64_t kindBits = phase == 1 ? a.sameKind[j] : ~a.sameKind[j];
            uint64_t m = nearMask[j] & kindBits;
            while (m) {
                const int32_t i = lowestBit(m);
                m &= m - 1;
                const int32_t dx = ref.x[i] - a.x[j];
                const int32_t dy = ref.y[i] - a.y[j];
                if (dx * dx + dy * dy >= kPairLimit * kPairLimit) continue;
                const int32_t d = distanceOf(ref, a, i, j);
                const int32_t e = directionErrorOf(ref, a, i, j);
                contribution = phase == 1 ? 20 - d - e : (kPairLimit - e) / 2 + (kPairLimit - d) / 2;
                break;
            }
        }
        if (contribution < 0) return {0, 0};
        return {contribution * kScoreScale / divisor, 1};
    }

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

// Bit i set for each reference minutia i of the given kind.
uint64_t kindMask(const PreparedReference& ref, int32_t kind) {
    uint64_t mask = 0;
    for (int32_t i = 0; i < ref.count && i < kMaxMinutiae; ++i) {
        if (ref.kind[i] == kind) mask |= uint64_t{1} << i;
    }
    return mask;
}

// The probe set in the form the search reads it.
struct PreparedProbe {
    int32_t count;
    int32_t x[kMaxMinutiae];
    int32_t y[kMaxMinutiae];
    int32_t direction[kMaxMinutiae];
    int32_t kind[kMaxMinutiae];
    double xd[kMaxMinutiae];
    double yd[kMaxMinutiae];
    int32_t ring[kMaxMinutiae][4];
};

void prepareProbe(const MinutiaSet& probe, const PreparedReference& ref, PreparedProbe& prepared,
                  AlignedView& view, bool quick) {
    const int32_t count = clampCount(probe.count);
    prepared.count = count;
    view.count = count;
    // Records beyond the count are read four at a time by the wide look-up.
    std::memset(prepared.direction, 0, sizeof prepared.direction);
    std::memset(prepared.xd, 0, sizeof prepared.xd);
    std::memset(prepared.yd, 0, sizeof prepared.yd);
    for (int32_t j = 0; j < count; ++j) {
        const Minutia& m = probe.minutiae[j];
        prepared.x[j] = clampCoordinate(m.x);
        prepared.y[j] = clampCoordinate(m.y);
        prepared.direction[j] = normalDirection(m.direction);
        prepared.kind[j] = m.kind;
        prepared.xd[j] = prepared.x[j];
        prepared.yd[j] = prepared.y[j];
        if (quick) ringQuantities(m, prepared.ring[j]);
        view.sameKind[j] = kindMask(ref, m.kind);
    }
}

// The aligned coordinates of the first n probe minutiae for one anchor,
// exactly as alignMinutiaSet computes them (the same double operations in the
// same order, two minutiae at a time where SSE2 is available).
void alignCoordinates(const PreparedProbe& probe, int32_t n, double xc, double yc, double c, double s, double sx,
                      double sy, int32_t* ax, int32_t* ay) {
    int32_t j = 0;
#if defined(__SSE2__)
    const __m128d vc = _mm_set1_pd(c), vs = _mm_set1_pd(s);
    const __m128d vxc = _mm_set1_pd(xc), vyc = _mm_set1_pd(yc);
    const __m128d vsx = _mm_set1_pd(sx), vsy = _mm_set1_pd(sy);
    const __m128d half = _mm_set1_pd(0.5);
    for (; j + 2 <= n; j += 2) {
        const __m128d u = _mm_sub_pd(_mm_loadu_pd(probe.xd + j), vxc);
        const __m128d v = _mm_sub_pd(_mm_loadu_pd(probe.yd + j), vyc);
        const __m128d x =
            _mm_add_pd(_mm_add_pd(_mm_sub_pd(_mm_add_pd(_mm_mul_pd(u, vc), vxc), _mm_mul_pd(v, vs)), vsx), half);
        const __m128d y =
            _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(v, vc), _mm_mul_pd(u, vs)), vsy), vyc), half);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(ax + j), _mm_cvttpd_epi32(x));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(ay + j), _mm_cvttpd_epi32(y));
    }
#endif
    for (; j < n; ++j) {
        const double u = probe.xd[j] - xc;
        const double v = probe.yd[j] - yc;
        ax[j] = static_cast<int32_t>(u * c + xc - v * s + sx + 0.5);
        ay[j] = static_cast<int32_t>(v * c + u * s + sy + yc + 0.5);
    }
}

inline int32_t popCount(uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555ull);
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int32_t>((v * 0x0101010101010101ull) >> 56);
}

// Set bits of 0..15.
constexpr int32_t kNibbleBits[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

// The turn and shift of one anchor in the form the alignment uses them.
struct AnchorTurn {
    double c, s, xc, yc, sx, sy;
    int32_t rotation;
};

// Aligns the probe set for one anchor into view and returns the set of
// aligned minutiae with reference minutiae within reach (nearMask filled for
// them).
template <bool kGiveUp>
uint64_t lookUpPortable(const PreparedProbe& probe, int32_t n, const AnchorTurn& t, const PreparedReference& ref,
                        const uint64_t* kindFilter, int32_t missLimit, AlignedView& view, uint64_t* nearMask) {
    alignCoordinates(probe, n, t.xc, t.yc, t.c, t.s, t.sx, t.sy, view.x, view.y);
    // Hits are rare, so the branch on them is cheap.
    uint64_t hits = 0;
    int32_t misses = 0;
    for (int32_t j = 0; j < n; ++j) {
        const int32_t ad = probe.direction[j] + t.rotation;
        view.direction[j] = ad;
        const uint64_t m = ref.nearX[axisCell(view.x[j], ref.originX, ref.guardX)] &
                           ref.nearY[axisCell(view.y[j], ref.originY, ref.guardY)] & ref.nearDirection[ad] &
                           kindFilter[j];
        if (m) {
            nearMask[j] = m;
            hits |= uint64_t{1} << j;
        } else if (kGiveUp && ++misses >= missLimit) {
            return 0;
        }
    }
    return hits;
}

#if defined(ORVANE_MATCH_WIDE)
// The same four minutiae at a time with AVX2: the same double operations in
// the same order (no fused multiply-add), table reads by gather. Reads the
// zeroed records up to the next multiple of four.
template <bool kGiveUp>
__attribute__((target("avx2"))) uint64_t lookUpWide(const PreparedProbe& probe, int32_t n, const AnchorTurn& t,
                                                    const PreparedReference& ref, const uint64_t* kindFilter,
                                                    int32_t missLimit, AlignedView& view, uint64_t* nearMask) {
    const __m256d vc = _mm256_set1_pd(t.c), vs = _mm256_set1_pd(t.s);
    const __m256d vxc = _mm256_set1_pd(t.xc), vyc = _mm256_set1_pd(t.yc);
    const __m256d vsx = _mm256_set1_pd(t.sx), vsy = _mm256_set1_pd(t.sy);
    const __m256d half = _mm256_set1_pd(0.5);
    const __m128i originX = _mm_set1_epi32(ref.originX), originY = _mm_set1_epi32(ref.originY);
    const __m128i guardX = _mm_set1_epi32(ref.guardX), guardY = _mm_set1_epi32(ref.guardY);
    const __m128i rotation = _mm_set1_epi32(t.rotation);
    const long long* nearX = reinterpret_cast<const long long*>(ref.nearX);
    const long long* nearY = reinterpret_cast<const long long*>(ref.nearY);
    const long long* nearDirection = reinterpret_cast<const long long*>(ref.nearDirection);
    uint64_t hits = 0;
    int32_t misses = 0;
    for (int32_t j = 0; j < n; j += 4) {
        const __m256d u = _mm256_sub_pd(_mm256_loadu_pd(probe.xd + j), vxc);
        const __m256d v = _mm256_sub_pd(_mm256_loadu_pd(probe.yd + j), vyc);
        const __m256d x = _mm256_add_pd(
            _mm256_add_pd(_mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(u, vc), vxc), _mm256_mul_pd(v, vs)), vsx), half);
        const __m256d y = _mm256_add_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(v, vc), _mm256_mul_pd(u, vs)), vsy), vyc), half);
        const __m128i xi = _mm256_cvttpd_epi32(x);
        const __m128i yi = _mm256_cvttpd_epi32(y);
        const __m128i di =
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(probe.direction + j)), rotation);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(view.x + j), xi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(view.y + j), yi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(view.direction + j), di);
        // Cells: the difference modulo 2^32, held at the zero guard cell.
        const __m128i cx = _mm_min_epu32(_mm_sub_epi32(xi, originX), guardX);
        const __m128i cy = _mm_min_epu32(_mm_sub_epi32(yi, originY), guardY);
        __m256i m = _mm256_i32gather_epi64(nearX, cx, 8);
        m = _mm256_and_si256(m, _mm256_i32gather_epi64(nearY, cy, 8));
        m = _mm256_and_si256(m, _mm256_i32gather_epi64(nearDirection, di, 8));
        m = _mm256_and_si256(m, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kindFilter + j)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(nearMask + j), m);
        const int empty = _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(m, _mm256_setzero_si256())));
        hits |= static_cast<uint64_t>(~empty & 0xF) << j;
        // Only whole groups of real records count (the zeroed records after
        // the last one never hit).
        if (kGiveUp && j + 4 < n) {
            misses += kNibbleBits[empty & 0xF];
            if (misses >= missLimit) return 0;
        }
    }
    return hits;
}

bool detectWide() { return __builtin_cpu_supports("avx2"); }
#endif

// The bound on the score of an anchor with the given number of aligned
// minutiae within reach: every pair takes one and adds at most 20.
inline int32_t hitBound(int32_t hitCount, int32_t divisor) { return hitCount * 20 * hitCount * kScoreScale / divisor; }

// The number of misses after which an anchor of n aligned minutiae cannot
// beat bestScore any more (0 or less: no anchor can).
int32_t missLimitFor(int32_t n, int32_t divisor, int32_t bestScore) {
    int32_t h = n;
    while (h >= 0 && hitBound(h, divisor) > bestScore) --h;
    // h is the largest hit count that cannot beat the best (-1: none); at
    // n - h misses at most h hits remain.
    return n - h;
}

using LookUp = uint64_t (*)(const PreparedProbe&, int32_t, const AnchorTurn&, const PreparedReference&,
                           const uint64_t*, int32_t, AlignedView&, uint64_t*);

// Counting misses pays only where it can end the look-up a few groups early:
// the full search with a best that needs at least 8 hits to beat. The quick
// search, which ends at its first good anchor, keeps the plain look-up.
LookUp chooseLookUp(bool quick, bool wide, int32_t n, int32_t missLimit) {
    const bool giveUp = !quick && missLimit <= n - 8;
#if defined(ORVANE_MATCH_WIDE)
    if (wide) return giveUp ? lookUpWide<true> : lookUpWide<false>;
#else
    (void)wide;
#endif
    return giveUp ? lookUpPortable<true> : lookUpPortable<false>;
}

void searchPrepared(const MinutiaSet& probeSet, const MinutiaSet& referenceSet, MatchResult& best, bool quick,
                    bool wide) {
    best = MatchResult{0, 0, 0, 0, 0};
    PreparedReference ref;
    prepareReference(referenceSet, ref);
    PreparedProbe probe;
    AlignedView view;
    prepareProbe(probeSet, ref, probe, view, quick);
    const int32_t nP = probe.count;
    const int32_t nR = ref.count;
    if (nP == 0 || nR == 0) return;

    (void)wide;
    const int32_t divisor = (nP + nR) * (nP + nR);
    uint64_t kindFilter[kMaxMinutiae] = {};
    for (int32_t j = 0; j < nP; ++j) kindFilter[j] = quick ? view.sameKind[j] : ~uint64_t{0};
    uint64_t nearMask[kMaxMinutiae];
    // An anchor whose hits cannot beat the best is skipped below; the look-up
    // gives up (no hits) as soon as missLimit aligned minutiae missed, since
    // then at most nP - missLimit hits remain, a count that cannot beat it.
    int32_t missLimit = missLimitFor(nP, divisor, best.score);
    if (missLimit <= 0) return;
    LookUp lookUp = chooseLookUp(quick, wide, nP, missLimit);

    for (int32_t r = 0; r < nR; ++r) {
        const uint64_t bitR = uint64_t{1} << r;
        int32_t referenceRing[4] = {-1, -1, -1, -1};
        if (quick) ringQuantities(referenceSet.minutiae[r], referenceRing);
        for (int32_t p = 0; p < nP; ++p) {
            if (!(view.sameKind[p] & bitR)) continue;
            if (quick && !ringQuantitiesAgree(probe.ring[p], referenceRing)) continue;
            const int32_t rotation = turnAngle(probe.direction[p], ref.direction[r]);
            const int32_t shiftX = ref.x[r] - probe.x[p];
            const int32_t shiftY = ref.y[r] - probe.y[p];
            AnchorTurn turn;
            rotationCosSin(rotation, turn.c, turn.s);
            turn.xc = probe.xd[p];
            turn.yc = probe.yd[p];
            turn.sx = shiftX;
            turn.sy = shiftY;
            turn.rotation = rotation;
            const uint64_t hits = lookUp(probe, nP, turn, ref, kindFilter, missLimit, view, nearMask);
            // Every pair takes an aligned minutia with a hit and adds at most
            // 20 to the sum: an anchor whose hits cannot beat the best is done.
            const int32_t hitCount = popCount(hits);
            if (hitBound(hitCount, divisor) <= best.score) continue;
            const PairScore scored = pairUp(ref, view, nearMask, hits, quick);
            if (scored.score > best.score) {
                best = MatchResult{scored.score, rotation, shiftX, shiftY, scored.pairCount};
                missLimit = missLimitFor(nP, divisor, best.score);
                if (missLimit <= 0) return;
                lookUp = chooseLookUp(quick, wide, nP, missLimit);
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
        view.sameKind[j] = kindMask(ref, m.kind);
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

namespace match_internal {

bool wideLookUpAvailable() {
#if defined(ORVANE_MATCH_WIDE)
    static const bool available = detectWide();
    return available;
#else
    return false;
#endif
}

void searchWithPath(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode,
                    bool wide) {
    searchPrepared(probe, reference, result, matchMode == kQuickSearch, wide && wideLookUpAvailable());
}

}  // namespace match_internal

void searchBestAlignment(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result,
                         int32_t matchMode) {
    searchWithPath(probe, reference, result, matchMode, true);
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
