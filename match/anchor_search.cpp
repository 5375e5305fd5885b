// The anchor search: every same-kind pair (reference minutia r, probe minutia
// p) is an anchor; the probe set is turned about p onto r's direction and
// shifted onto r, then paired and scored. The first anchor with the highest
// score wins (reference-major order); the quick search ends early.
//
// The plain version is reference::search in tests/match/reference_matcher.cpp;
// tests/match/equivalence_test.cpp holds this search to it.
//
// What makes it fast, and why it stays exact:
//  - each aligned minutia is looked up in the reference index with three mask
//    loads (AVX2 gathers four at a time where available): the set of aligned
//    minutiae with a reference minutia within reach ("hits") bounds the pairs;
//  - scoreBound(hits) <= the best so far (or the caller's floor): the anchor
//    cannot become the best, so it is not paired (a later anchor only
//    replaces the best with a strictly higher score, so skipping such an
//    anchor changes nothing, ties included);
//  - the look-up gives up once so many aligned minutiae missed that the rest
//    cannot reach a beating hit count (same reasoning).
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ORVANE_MATCH_WIDE 1
#include <immintrin.h>
#endif

#include "match/match_internal.h"
#include "core/numeric.h"

namespace orvane::match_internal {

void prepareProbe(const MinutiaSet& probe, PreparedProbe& prepared) {
    const int32_t count = clampCount(probe.count);
    // Records beyond the count are read four at a time by the wide look-up.
    std::memset(&prepared, 0, sizeof prepared);
    prepared.count = count;
    for (int32_t j = 0; j < count; ++j) {
        const Minutia& m = probe.minutiae[j];
        prepared.direction[j] = normalDirection(m.direction);
        prepared.kind[j] = m.kind;
        prepared.xd[j] = clampCoordinate(m.x);
        prepared.yd[j] = clampCoordinate(m.y);
        ringQuantities(m, prepared.ring[j]);
    }
}

namespace {

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
        int32_t ad = probe.direction[j] + t.rotation;
        if (ad >= 360) ad -= 360;
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
// zeroed records up to the next multiple of four (their kind filter is 0).
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
    const __m128i lastDirection = _mm_set1_epi32(359), turn = _mm_set1_epi32(360);
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
        __m128i di = _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(probe.direction + j)), rotation);
        di = _mm_sub_epi32(di, _mm_and_si128(_mm_cmpgt_epi32(di, lastDirection), turn));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(view.x + j), xi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(view.y + j), yi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(view.direction + j), di);
        // Cells: the difference modulo 2^32 over the cell width, held at the
        // zero guard cell.
        const __m128i cx = _mm_min_epu32(_mm_srli_epi32(_mm_sub_epi32(xi, originX), kAxisCellShift), guardX);
        const __m128i cy = _mm_min_epu32(_mm_srli_epi32(_mm_sub_epi32(yi, originY), kAxisCellShift), guardY);
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

// The number of misses after which an anchor of n aligned minutiae cannot
// beat target any more (0 or less: no anchor can).
int32_t missLimitFor(int32_t n, int32_t divisor, int32_t target) {
    int32_t h = n;
    while (h >= 0 && scoreBound(h, divisor) > target) --h;
    // h is the largest hit count that cannot beat the target (-1: none); at
    // n - h misses at most h hits remain.
    return n - h;
}

using LookUp = uint64_t (*)(const PreparedProbe&, int32_t, const AnchorTurn&, const PreparedReference&,
                           const uint64_t*, int32_t, AlignedView&, uint64_t*);

// Counting misses pays only where it can end the look-up a few groups early:
// the full search with a target that needs at least 8 hits to beat. The quick
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

}  // namespace

bool wideLookUpAvailable() {
#if defined(ORVANE_MATCH_WIDE)
    static const bool available = detectWide();
    return available;
#else
    return false;
#endif
}

void searchPrepared(const PreparedProbe& probe, const PreparedReference& ref, MatchResult& best, bool quick,
                    bool wide, int32_t floor, const uint8_t* pairBound) {
    best = MatchResult{0, 0, 0, 0, 0};
    const int32_t nP = probe.count;
    const int32_t nR = ref.count;
    if (nP == 0 || nR == 0) return;
    wide = wide && wideLookUpAvailable();
    // An anchor that becomes the best and ends the quick search scores above
    // kQuickScore: a floor up to there skips none of them.
    if (quick && floor > kQuickScore) floor = kQuickScore;

    const int32_t divisor = (nP + nR) * (nP + nR);
    AlignedView view;
    view.count = nP;
    // The aligned minutiae that may pair with reference i: any in the full
    // search, the same kind in the quick search (zero after the count).
    uint64_t kindFilter[kMaxMinutiae] = {};
    for (int32_t j = 0; j < nP; ++j) {
        view.sameKind[j] = kindMask(ref, probe.kind[j]);
        kindFilter[j] = quick ? view.sameKind[j] : ~uint64_t{0};
    }
    uint64_t nearMask[kMaxMinutiae];
    // An anchor whose hits cannot beat the target is skipped below; the
    // look-up gives up (no hits) as soon as missLimit aligned minutiae missed,
    // since then at most nP - missLimit hits remain, a count that cannot beat it.
    int32_t target = floor > 0 ? floor : 0;
    int32_t missLimit = missLimitFor(nP, divisor, target);
    if (missLimit <= 0) return;
    LookUp lookUp = chooseLookUp(quick, wide, nP, missLimit);

    for (int32_t r = 0; r < nR; ++r) {
        const uint64_t bitR = uint64_t{1} << r;
        const uint8_t* boundRow = pairBound ? pairBound + static_cast<size_t>(r) * kAnchorBoundRow : nullptr;
        for (int32_t p = 0; p < nP; ++p) {
            if (!(view.sameKind[p] & bitR)) continue;
            if (boundRow && scoreBound(boundRow[p], divisor) <= target) continue;
            if (quick && !ringQuantitiesAgree(probe.ring[p], ref.ring[r])) continue;
            const int32_t rotation = turnAngle(probe.direction[p], ref.direction[r]);
            const int32_t shiftX = ref.x[r] - static_cast<int32_t>(probe.xd[p]);
            const int32_t shiftY = ref.y[r] - static_cast<int32_t>(probe.yd[p]);
            AnchorTurn turn;
            rotationCosSin(rotation, turn.c, turn.s);
            turn.xc = probe.xd[p];
            turn.yc = probe.yd[p];
            turn.sx = shiftX;
            turn.sy = shiftY;
            turn.rotation = rotation;
            const uint64_t hits = lookUp(probe, nP, turn, ref, kindFilter, missLimit, view, nearMask);
            if (scoreBound(popCount(hits), divisor) <= target) continue;
            const PairScore scored = pairUp(ref, view, nearMask, hits, quick);
            if (scored.score > best.score) {
                best = MatchResult{scored.score, rotation, shiftX, shiftY, scored.pairCount};
                if (quick && scored.pairCount >= kQuickPairs && scored.score > kQuickScore) return;
                if (best.score > target) {
                    target = best.score;
                    missLimit = missLimitFor(nP, divisor, target);
                    if (missLimit <= 0) return;
                    lookUp = chooseLookUp(quick, wide, nP, missLimit);
                }
            }
        }
    }
}

}  // namespace orvane::match_internal
