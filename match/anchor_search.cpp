// The anchor search: every same-kind pair (reference minutia r, probe minutia
// p) is an anchor; the probe set is turned about p onto r's direction and
// shifted onto r, then paired and scored. The first anchor with the highest
// score wins (reference-major order); the quick search ends early.
//
// The plain version is reference::search in tests/match/reference_matcher.cpp;
// tests/match/equivalence_test.cpp holds this search to it.
//
// What makes it fast, and why it stays exact:
//  - an anchor's aligned minutiae are first placed on the reference's coarse
//    grid in single precision, eight at a time (match_internal.h says why a
//    minutia that can pair always finds its grid bit set); only those whose
//    bit is set (candidates) are aligned exactly and tested against the
//    reference minutiae (nearReference). The minutiae within reach of some
//    reference minutia ("hits") are a subset of the candidates, and every pair
//    takes its own aligned minutia, so both counts bound the pairs;
//  - an anchor whose bound n has scoreBound(n) <= the best so far (or the
//    caller's floor) cannot become the best, so it is not paired (a later
//    anchor only replaces the best with a strictly higher score, so skipping
//    such an anchor changes nothing, ties included); the exact tests stop as
//    soon as the hits found plus the candidates left fall below that;
//  - reportedSearch, the search behind VerifyMatch, first looks only at the
//    anchors with at least kReportedPairs hits (see there).
#include <cstring>

#include "match/match_internal.h"
#include "core/numeric.h"
namespace orvane::match_internal {

void prepareProbe(const MinutiaSet& probe, PreparedProbe& prepared) {
    const int32_t count = clampCount(probe.count);
    // Records beyond the count are read eight at a time by the wide grid look-up.
    std::memset(&prepared, 0, sizeof prepared);
    prepared.count = count;
    for (int32_t j = 0; j < count; ++j) {
        const Minutia& m = probe.minutiae[j];
        prepared.direction[j] = normalDirection(m.direction);
        prepared.kind[j] = m.kind;
        prepared.xd[j] = clampCoordinate(m.x);
        prepared.yd[j] = clampCoordinate(m.y);
        prepared.xf[j] = static_cast<float>(clampCoordinate(m.x));
        prepared.yf[j] = static_cast<float>(clampCoordinate(m.y));
        ringQuantities(m, prepared.ring[j]);
    }
}

namespace {

inline int32_t popCount(uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555ull);
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int32_t>((v * 0x0101010101010101ull) >> 56);
}

// The turn and shift of one anchor: in double precision as the alignment
// uses them, and in single precision in grid cells for the grid look-up
// (cell coordinate = (u * c - v * s + reference x - origin) / cell width).
struct AnchorTurn {
    double c, s, xc, yc, sx, sy;
    float cosine, sine, probeX, probeY, cellX, cellY;
    int32_t rotation;
};

AnchorTurn anchorTurn(const PreparedProbe& probe, int32_t p, const PreparedReference& ref, int32_t r,
                      int32_t rotation, int32_t shiftX, int32_t shiftY) {
    AnchorTurn t;
    rotationCosSin(rotation, t.c, t.s);
    t.xc = probe.xd[p];
    t.yc = probe.yd[p];
    t.sx = shiftX;
    t.sy = shiftY;
    t.rotation = rotation;
    t.cosine = static_cast<float>(t.c) * ref.gridScale;
    t.sine = static_cast<float>(t.s) * ref.gridScale;
    t.probeX = probe.xf[p];
    t.probeY = probe.yf[p];
    t.cellX = static_cast<float>(ref.x[r] - ref.gridOriginX) * ref.gridScale;
    t.cellY = static_cast<float>(ref.y[r] - ref.gridOriginY) * ref.gridScale;
    return t;
}

// The exact aligned coordinates of probe minutia j, as alignMinutiaSet
// computes them (the same double operations in the same order).
inline void alignExactly(const PreparedProbe& probe, int32_t j, const AnchorTurn& t, int32_t& x, int32_t& y) {
    const double u = probe.xd[j] - t.xc;
    const double v = probe.yd[j] - t.yc;
    x = static_cast<int32_t>(u * t.c + t.xc - v * t.s + t.sx + 0.5);
    y = static_cast<int32_t>(v * t.c + u * t.s + t.sy + t.yc + 0.5);
}

inline int32_t alignedDirection(const PreparedProbe& probe, int32_t j, int32_t rotation) {
    const int32_t d = probe.direction[j] + rotation;
    return d >= 360 ? d - 360 : d;
}

// Bit j set for each of the first n probe minutiae whose grid bit is set
// under the anchor. Cells are cut towards zero: a coordinate between -1 and 0
// lands in the empty cell 0, like one beyond the grid.
uint64_t gridCandidatesOf(const PreparedProbe& probe, uint64_t among, const AnchorTurn& t,
                          const PreparedReference& ref) {
    uint64_t candidates = 0;
    while (among) {
        const int32_t j = countTrailingZeros(among);
        among &= among - 1;
        const float u = probe.xf[j] - t.probeX;
        const float v = probe.yf[j] - t.probeY;
        const float cx = u * t.cosine - v * t.sine + t.cellX;
        const float cy = v * t.cosine + u * t.sine + t.cellY;
        if (!(cx > -1.0f && cy > -1.0f)) continue;
        const int32_t ix = static_cast<int32_t>(cx);
        const int32_t iy = static_cast<int32_t>(cy);
        if (ix >= ref.gridWidth || iy >= ref.gridHeight) continue;
        const uint32_t word = ref.grid[iy * ref.gridWidth + ix];
        candidates |= static_cast<uint64_t>((word >> directionBin(alignedDirection(probe, j, t.rotation))) & 1u) << j;
    }
    return candidates;
}

inline uint64_t gridCandidatesPortable(const PreparedProbe& probe, int32_t n, const AnchorTurn& t,
                                       const PreparedReference& ref) {
    return gridCandidatesOf(probe, n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1, t, ref);
}

#if ORVANE_AVX2_DISPATCH
// The same with the arithmetic eight minutiae at a time in AVX2: the same
// single-precision operations in the same order (no fused multiply-add). The
// grid words are then read one by one (a gather is slower on some
// processors); minutiae off the grid read the zero word after it. Computes
// the zeroed records up to the next multiple of eight; the caller drops their
// bits.
ORVANE_TARGET_AVX2 uint64_t gridCandidatesWide(const PreparedProbe& probe, int32_t n,
                                                            const AnchorTurn& t, const PreparedReference& ref) {
    const __m256 vc = _mm256_set1_ps(t.cosine), vs = _mm256_set1_ps(t.sine);
    const __m256 px = _mm256_set1_ps(t.probeX), py = _mm256_set1_ps(t.probeY);
    const __m256 ox = _mm256_set1_ps(t.cellX), oy = _mm256_set1_ps(t.cellY);
    const __m256i lastX = _mm256_set1_epi32(ref.gridWidth - 1), lastY = _mm256_set1_epi32(ref.gridHeight - 1);
    const __m256i width = _mm256_set1_epi32(ref.gridWidth);
    const __m256i offGrid = _mm256_set1_epi32(ref.gridWidth * ref.gridHeight);
    const __m256i rotation = _mm256_set1_epi32(t.rotation);
    const __m256i lastDirection = _mm256_set1_epi32(359), turn = _mm256_set1_epi32(360);
    const __m256i binScale = _mm256_set1_epi32(91);
    alignas(32) int32_t cell[kPaddedMinutiae];
    alignas(32) int32_t bin[kPaddedMinutiae];
    for (int32_t j = 0; j < n; j += 8) {
        const __m256 u = _mm256_sub_ps(_mm256_loadu_ps(probe.xf + j), px);
        const __m256 v = _mm256_sub_ps(_mm256_loadu_ps(probe.yf + j), py);
        const __m256 cx = _mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(u, vc), _mm256_mul_ps(v, vs)), ox);
        const __m256 cy = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(v, vc), _mm256_mul_ps(u, vs)), oy);
        // Cut towards zero; anything below -1 or beyond the int32 range
        // becomes negative, that is above the last cell when read unsigned.
        const __m256i ix = _mm256_cvttps_epi32(cx);
        const __m256i iy = _mm256_cvttps_epi32(cy);
        const __m256i inside = _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(ix, lastX), ix),
                                                _mm256_cmpeq_epi32(_mm256_min_epu32(iy, lastY), iy));
        const __m256i onGrid = _mm256_add_epi32(_mm256_mullo_epi32(iy, width), ix);
        _mm256_store_si256(reinterpret_cast<__m256i*>(cell + j), _mm256_blendv_epi8(offGrid, onGrid, inside));
        __m256i d = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(probe.direction + j)), rotation);
        d = _mm256_sub_epi32(d, _mm256_and_si256(_mm256_cmpgt_epi32(d, lastDirection), turn));
        _mm256_store_si256(reinterpret_cast<__m256i*>(bin + j), _mm256_srli_epi32(_mm256_mullo_epi32(d, binScale), 10));
    }
    uint64_t candidates = 0;
    for (int32_t j = 0; j < n; ++j) {
        candidates |= static_cast<uint64_t>((ref.grid[cell[j]] >> bin[j]) & 1u) << j;
    }
    return candidates;
}

// The coarse test of every anchor (p, r) of one reference minutia r, for the
// probe minutiae p in anchors, sixteen aligned minutiae at a time with
// AVX-512: the masks are looked up in registers (two-table permutes), which
// is cheaper than reading the grid for every minutia. Cell coordinates are
// computed like the grid's (match_internal.h), in the coarse cells, so the
// bits are a superset of the anchor's pairable minutiae; the grid then tests
// the few left. candidates[p] receives the bits of anchor (p, r).
// GCC 12's AVX-512 headers start some intrinsics from a deliberately
// undefined register, which its own -Wmaybe-uninitialized reports.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
ORVANE_TARGET_AVX512 void coarseSweep(const PreparedProbe& probe, const PreparedReference& ref,
                                                    int32_t r, uint64_t anchors, uint64_t* candidates) {
    const int32_t n = probe.count;
    const __m512i xLow = _mm512_loadu_si512(ref.coarseX), xHigh = _mm512_loadu_si512(ref.coarseX + 8);
    const __m512i yLow = _mm512_loadu_si512(ref.coarseY), yHigh = _mm512_loadu_si512(ref.coarseY + 8);
    const __m512i dLow = _mm512_loadu_si512(ref.coarseDirection);
    const __m512i dHigh = _mm512_loadu_si512(ref.coarseDirection + 8);
    const __m512i cells = _mm512_set1_epi32(kCoarseCells);
    const __m512i lastDirection = _mm512_set1_epi32(359), turn = _mm512_set1_epi32(360);
    const __m512i binScale = _mm512_set1_epi32(91);
    const __m512 ox = _mm512_set1_ps(static_cast<float>(ref.x[r] - ref.coarseOriginX) * ref.coarseScaleX);
    const __m512 oy = _mm512_set1_ps(static_cast<float>(ref.y[r] - ref.coarseOriginY) * ref.coarseScaleY);
    const TurnTable& turns = turnTable();  // directions are 0..359, so are the turns
    while (anchors) {
        const int32_t p = countTrailingZeros(anchors);
        anchors &= anchors - 1;
        const int32_t rotation = turnAngle(probe.direction[p], ref.direction[r]);
        const double c = turns.cosine[rotation], s = turns.sine[rotation];
        const __m512 cX = _mm512_set1_ps(static_cast<float>(c) * ref.coarseScaleX);
        const __m512 sX = _mm512_set1_ps(static_cast<float>(s) * ref.coarseScaleX);
        const __m512 cY = _mm512_set1_ps(static_cast<float>(c) * ref.coarseScaleY);
        const __m512 sY = _mm512_set1_ps(static_cast<float>(s) * ref.coarseScaleY);
        const __m512 px = _mm512_set1_ps(probe.xf[p]), py = _mm512_set1_ps(probe.yf[p]);
        const __m512i turnBy = _mm512_set1_epi32(rotation);
        uint64_t found = 0;
        for (int32_t j = 0; j < n; j += 16) {
            const __m512 u = _mm512_sub_ps(_mm512_loadu_ps(probe.xf + j), px);
            const __m512 v = _mm512_sub_ps(_mm512_loadu_ps(probe.yf + j), py);
            const __m512 cx = _mm512_add_ps(_mm512_sub_ps(_mm512_mul_ps(u, cX), _mm512_mul_ps(v, sX)), ox);
            const __m512 cy = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(v, cY), _mm512_mul_ps(u, sY)), oy);
            const __m512i ix = _mm512_cvttps_epi32(cx);
            const __m512i iy = _mm512_cvttps_epi32(cy);
            const __mmask16 inside = _mm512_cmplt_epu32_mask(ix, cells) & _mm512_cmplt_epu32_mask(iy, cells);
            __m512i d = _mm512_add_epi32(_mm512_loadu_si512(probe.direction + j), turnBy);
            d = _mm512_mask_sub_epi32(d, _mm512_cmpgt_epi32_mask(d, lastDirection), d, turn);
            const __m512i bin = _mm512_srli_epi32(_mm512_mullo_epi32(d, binScale), 11);
            // A two-table permute reads the low four bits of each 64-bit
            // index: the even records' cells as they are, the odd records'
            // shifted down.
            const __m512i even = _mm512_and_si512(
                _mm512_and_si512(_mm512_permutex2var_epi64(xLow, ix, xHigh), _mm512_permutex2var_epi64(yLow, iy, yHigh)),
                _mm512_permutex2var_epi64(dLow, bin, dHigh));
            const __m512i odd = _mm512_and_si512(
                _mm512_and_si512(_mm512_permutex2var_epi64(xLow, _mm512_srli_epi64(ix, 32), xHigh),
                                 _mm512_permutex2var_epi64(yLow, _mm512_srli_epi64(iy, 32), yHigh)),
                _mm512_permutex2var_epi64(dLow, _mm512_srli_epi64(bin, 32), dHigh));
            const uint32_t near = _pdep_u32(_mm512_test_epi64_mask(even, even), 0x5555u) |
                                  _pdep_u32(_mm512_test_epi64_mask(odd, odd), 0xAAAAu);
            found |= static_cast<uint64_t>(near & inside) << j;
        }
        candidates[p] = found;
    }
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool detectWide() { return cpuHasAvx2(); }
bool detectCoarse() { return cpuHasAvx512(); }
#endif

// The fewest hits whose scoreBound beats target (kMaxMinutiae + 1: none).
int32_t hitsToBeat(int32_t target, int32_t divisor) {
    int32_t h = 0;
    while (h <= kMaxMinutiae && scoreBound(h, divisor) <= target) ++h;
    return h;
}

// What a run of the anchor loop looks for.
struct SearchGoal {
    int32_t floor;             // as searchPrepared's
    const uint8_t* pairBound;  // as searchPrepared's
    int32_t minHits;           // anchors with fewer hits are skipped
    bool anyReportable;        // stop at the first anchor of at least kReportedPairs pairs
};

// The anchor loop. With anyReportable it returns whether some anchor with
// minHits hits or more has kReportedPairs pairs or more (best is then that
// anchor); otherwise best is the first highest-scoring anchor among those
// with minHits hits or more, under the floor and early end of searchPrepared.
bool runSearch(const PreparedProbe& probe, const PreparedReference& ref, MatchResult& best, bool quick,
               LookUpPath path, const SearchGoal& goal) {
    best = MatchResult{0, 0, 0, 0, 0};
    const int32_t nP = probe.count;
    const int32_t nR = ref.count;
    if (nP == 0 || nR == 0) return false;
    if (!lookUpPathAvailable(path)) path = LookUpPath::portable;
    const bool wide = path != LookUpPath::portable;
#if ORVANE_AVX2_DISPATCH
    const bool coarse = path == LookUpPath::avx512;
#endif
    int32_t floor = goal.floor;
    // An anchor that becomes the best and ends the quick search scores above
    // kQuickScore: a floor up to there skips none of them.
    if (quick && floor > kQuickScore) floor = kQuickScore;

    const int32_t divisor = (nP + nR) * (nP + nR);
    const uint64_t probeBits = nP == 64 ? ~uint64_t{0} : (uint64_t{1} << nP) - 1;
    AlignedView view;
    view.count = nP;
    // The reference minutiae aligned minutia j may pair with: any in the
    // full search, those of its kind in the quick search.
    uint64_t kindFilter[kMaxMinutiae];
    for (int32_t j = 0; j < nP; ++j) {
        // Kinds come in runs (a template lists one kind, then the other).
        view.sameKind[j] = j > 0 && probe.kind[j] == probe.kind[j - 1] ? view.sameKind[j - 1] : kindMask(ref, probe.kind[j]);
        kindFilter[j] = quick ? view.sameKind[j] : ~uint64_t{0};
    }
    uint64_t nearMask[kMaxMinutiae];
    int32_t target = floor > 0 ? floor : 0;
    auto hitsNeeded = [&] {
        const int32_t h = goal.anyReportable ? 0 : hitsToBeat(target, divisor);
        return h > goal.minHits ? h : goal.minHits;
    };
    int32_t needed = hitsNeeded();
    if (needed > nP) return false;

    uint64_t coarseCandidates[kMaxMinutiae];
    uint64_t sameKindAsR = 0;
    for (int32_t r = 0; r < nR; ++r) {
        const uint64_t bitR = uint64_t{1} << r;
        const uint8_t* boundRow = goal.pairBound ? goal.pairBound + static_cast<size_t>(r) * kAnchorBoundRow : nullptr;
        // The anchors of r that are tried: the probe minutiae of r's kind
        // (the same set for a run of one kind), less those the bounds or the
        // rings rule out.
        if (r == 0 || ref.kind[r] != ref.kind[r - 1]) {
            sameKindAsR = 0;
            for (int32_t p = 0; p < nP; ++p) sameKindAsR |= static_cast<uint64_t>((view.sameKind[p] & bitR) != 0) << p;
        }
        uint64_t anchors = sameKindAsR;
        if (boundRow || quick) {
            for (uint64_t rest = anchors; rest; rest &= rest - 1) {
                const int32_t p = countTrailingZeros(rest);
                if ((boundRow && boundRow[p] < needed) || (quick && !ringQuantitiesAgree(probe.ring[p], ref.ring[r]))) {
                    anchors &= ~(uint64_t{1} << p);
                }
            }
        }
#if ORVANE_AVX2_DISPATCH
        if (coarse && anchors) coarseSweep(probe, ref, r, anchors, coarseCandidates);
#endif
        while (anchors) {
            const int32_t p = countTrailingZeros(anchors);
            anchors &= anchors - 1;
            if (boundRow && boundRow[p] < needed) continue;
#if ORVANE_AVX2_DISPATCH
            if (coarse && popCount(coarseCandidates[p] & probeBits) < needed) continue;
#endif
            const int32_t rotation = turnAngle(probe.direction[p], ref.direction[r]);
            const int32_t shiftX = ref.x[r] - static_cast<int32_t>(probe.xd[p]);
            const int32_t shiftY = ref.y[r] - static_cast<int32_t>(probe.yd[p]);
            const AnchorTurn turn = anchorTurn(probe, p, ref, r, rotation, shiftX, shiftY);
            uint64_t candidates = 0;
#if ORVANE_AVX2_DISPATCH
            if (coarse) {
                candidates = gridCandidatesOf(probe, coarseCandidates[p] & probeBits, turn, ref);
            } else if (wide) {
                candidates = gridCandidatesWide(probe, nP, turn, ref) & probeBits;
            } else {
                candidates = gridCandidatesPortable(probe, nP, turn, ref);
            }
#else
            candidates = gridCandidatesPortable(probe, nP, turn, ref);
#endif
            int32_t left = popCount(candidates);
            uint64_t hits = 0;
            int32_t found = 0;
            while (left > 0 && found + left >= needed) {
                const int32_t j = countTrailingZeros(candidates);
                candidates &= candidates - 1;
                --left;
                int32_t x = 0, y = 0;
                alignExactly(probe, j, turn, x, y);
                const int32_t d = alignedDirection(probe, j, rotation);
                const uint64_t near = nearReference(ref, x, y, d, wide) & kindFilter[j];
                if (!near) continue;
                view.x[j] = x;
                view.y[j] = y;
                view.direction[j] = d;
                nearMask[j] = near;
                hits |= uint64_t{1} << j;
                ++found;
            }
            if (found < needed) continue;
            const PairScore scored = pairUp(ref, view, nearMask, hits, quick);
            if (goal.anyReportable) {
                if (scored.pairCount < kReportedPairs) continue;
                best = MatchResult{scored.score, rotation, shiftX, shiftY, scored.pairCount};
                return true;
            }
            if (scored.score > best.score) {
                best = MatchResult{scored.score, rotation, shiftX, shiftY, scored.pairCount};
                if (quick && scored.pairCount >= kQuickPairs && scored.score > kQuickScore) return false;
                if (best.score > target) {
                    target = best.score;
                    needed = hitsNeeded();
                    if (needed > nP) return false;
                }
            }
        }
    }
    return false;
}

}  // namespace

bool lookUpPathAvailable(LookUpPath path) {
#if ORVANE_AVX2_DISPATCH
    static const bool avx2 = detectWide();
    static const bool avx512 = avx2 && detectCoarse();
    return path == LookUpPath::portable || (path == LookUpPath::avx2 && avx2) || (path == LookUpPath::avx512 && avx512);
#else
    return path == LookUpPath::portable;
#endif
}

LookUpPath fastestLookUpPath() {
    if (lookUpPathAvailable(LookUpPath::avx512)) return LookUpPath::avx512;
    if (lookUpPathAvailable(LookUpPath::avx2)) return LookUpPath::avx2;
    return LookUpPath::portable;
}

bool wideLookUpAvailable() { return lookUpPathAvailable(LookUpPath::avx2); }

uint64_t anchorCandidates(const PreparedProbe& probe, const PreparedReference& ref, int32_t p, int32_t r,
                          LookUpPath path) {
    if (!lookUpPathAvailable(path)) path = LookUpPath::portable;
    const int32_t rotation = turnAngle(probe.direction[p], ref.direction[r]);
    const AnchorTurn turn = anchorTurn(probe, p, ref, r, rotation, ref.x[r] - static_cast<int32_t>(probe.xd[p]),
                                       ref.y[r] - static_cast<int32_t>(probe.yd[p]));
    const uint64_t probeBits = probe.count == 64 ? ~uint64_t{0} : (uint64_t{1} << probe.count) - 1;
#if ORVANE_AVX2_DISPATCH
    if (path == LookUpPath::avx512) {
        uint64_t coarse[kMaxMinutiae];
        coarseSweep(probe, ref, r, uint64_t{1} << p, coarse);
        return coarse[p] & probeBits;
    }
    if (path == LookUpPath::avx2) return gridCandidatesWide(probe, probe.count, turn, ref) & probeBits;
#endif
    return gridCandidatesPortable(probe, probe.count, turn, ref);
}

void searchPreparedOnPath(const PreparedProbe& probe, const PreparedReference& ref, MatchResult& best, bool quick,
                          LookUpPath path, int32_t floor, const uint8_t* pairBound) {
    runSearch(probe, ref, best, quick, path, SearchGoal{floor, pairBound, 0, false});
}

void searchPrepared(const PreparedProbe& probe, const PreparedReference& ref, MatchResult& best, bool quick,
                    bool wide, int32_t floor, const uint8_t* pairBound) {
    searchPreparedOnPath(probe, ref, best, quick, wide ? fastestLookUpPath() : LookUpPath::portable, floor, pairBound);
}

// VerifyMatch reports 0 unless the plain search's best alignment (the first
// with the highest score) has kReportedPairs pairs or more. An anchor with
// fewer hits than that has fewer pairs, and scores at most
// scoreBound(kReportedPairs - 1). So:
//  - full search: the first best among the anchors with kReportedPairs hits or
//    more is the plain best whenever the plain best is one of them. If it has
//    fewer than kReportedPairs pairs, so has the plain best (it is either this
//    one or an anchor with fewer hits): the report is 0. If it scores above
//    scoreBound(kReportedPairs - 1), no other anchor reaches its score, so it
//    is the plain best. Only otherwise does the plain search run.
//  - quick search: the plain search's result (its early end or its first
//    best) is reported only when it has kReportedPairs pairs or more, so when
//    no anchor with that many hits has that many pairs the report is 0.
//    Otherwise the first anchor X with that many pairs is where the plain
//    search ends if X scores above scoreBound(kReportedPairs - 1) (then above
//    every anchor before it, all of which have fewer pairs) and above
//    kQuickScore. Only otherwise does the plain quick search run (its early
//    end depends on every anchor before it).
int32_t reportedSearch(const PreparedProbe& probe, const PreparedReference& ref, bool quick, LookUpPath path) {
    MatchResult best;
    const int32_t n = probe.count + ref.count;
    const int32_t belowReportedPairs = n > 0 ? scoreBound(kReportedPairs - 1, n * n) : 0;
    if (quick) {
        if (!runSearch(probe, ref, best, true, path, SearchGoal{-1, nullptr, kReportedPairs, true})) return 0;
        // Every anchor before the one found has fewer pairs: when it scores
        // above all of them can, it becomes the best, and it ends the search
        // when it also scores above kQuickScore.
        if (best.score > belowReportedPairs && best.score > kQuickScore) return reportedScore(best, true);
        searchPreparedOnPath(probe, ref, best, true, path, -1);
        return reportedScore(best, true);
    }
    runSearch(probe, ref, best, false, path, SearchGoal{-1, nullptr, kReportedPairs, false});
    if (best.matchedCount < kReportedPairs) return 0;
    if (best.score <= belowReportedPairs) {
        searchPreparedOnPath(probe, ref, best, false, path, -1);
    }
    return reportedScore(best, false);
}

}  // namespace orvane::match_internal
