// Internal pieces of the matcher, in the order a comparison uses them:
//  - the scoring rule and its constants (one place for every bound);
//  - the reference index (reference_index.cpp): masks that answer "which
//    reference minutiae lie within reach of this x / this y / this direction";
//  - the probe index (anchor_search.cpp): the probe set as the search reads it,
//    independent of the reference, so a 1:N search prepares it once;
//  - pairing and scoring of one aligned set (pairing.cpp);
//  - the anchor search (anchor_search.cpp).
// The plain transcription these are tested against is
// tests/match/reference_matcher.cpp.
#pragma once

#include <cstdint>

#include "core/minutia.h"
#include "core/parameters.h"
#include "core/simd.h"
#include "match/matcher.h"

// x86 builds carry AVX2 and AVX-512 forms of the hot loops, chosen at run
// time (ORVANE_AVX2_DISPATCH in core/simd.h).

namespace orvane::match_internal {

// ---- The scoring rule -------------------------------------------------------

// Its constants (kPairLimit, kMaxContribution, kScoreScale, the quick
// search's end, kReportedPairs, kFullPairs) are in core/parameters.h.
constexpr int32_t kReach = kPairLimit - 1;  // largest offset or direction difference that pairs

// The score of n pairs whose contributions add up to sum, for sets of nR and
// nA minutiae (divisor (nR + nA)^2).
inline int32_t pairingScore(int32_t n, int32_t sum, int32_t divisor) { return n * sum * kScoreScale / divisor; }

// The highest score an alignment with at most `hits` pairs can have: every
// pair takes a distinct aligned minutia and adds at most kMaxContribution.
// pairingScore grows with n and sum, so this bounds every such alignment.
inline int32_t scoreBound(int32_t hits, int32_t divisor) {
    return pairingScore(hits, kMaxContribution * hits, divisor);
}

// floor(sqrt(dx * dx + dy * dy)) for offsets 0..9; read only with offsets
// below 10.
extern const int32_t kDistanceTable[kPairLimit][kPairLimit];

// The largest coordinate a template field can carry (10 bits).
constexpr int32_t kCoordinateLimit = 1023;

// Cosine and sine of rotation * kRadiansPerDegree. Whole turns 0..359 come
// from a table filled once with the same library calls.
void rotationCosSin(int32_t rotation, double& c, double& s);
struct TurnTable {
    double cosine[360];
    double sine[360];
};
const TurnTable& turnTable();

// Euclidean remainder of a direction by 360 (0..359 for every input).
inline int32_t normalDirection(int64_t direction) {
    int64_t d = direction % 360;
    return static_cast<int32_t>(d < 0 ? d + 360 : d);
}

inline int32_t clampCount(int32_t count) { return count < 0 ? 0 : (count > kMaxMinutiae ? kMaxMinutiae : count); }

inline int32_t clampCoordinate(int32_t v) { return v < 0 ? 0 : (v > kCoordinateLimit ? kCoordinateLimit : v); }

// The four ring quantities of a minutia compared by the ring agreement test;
// -1 where a ring value it uses is not available. A ring value outside 0..179
// counts as not available. Every quantity is 0..90 or -1.
void ringQuantities(const Minutia& m, int8_t quantity[4]);

inline bool ringQuantitiesAgree(const int8_t* p, const int8_t* r) {
    for (int k = 0; k < 4; ++k) {
        if (p[k] < 0 || r[k] < 0) continue;
        const int32_t d = p[k] > r[k] ? p[k] - r[k] : r[k] - p[k];
        if (d > 8) return false;
    }
    return true;
}

// ---- The reference index ----------------------------------------------------

// A minutia as a template carries it, read the way the matcher reads it
// (coordinates 0..1023, direction 0..359, ring quantities precomputed):
// 12 bytes, the per-minutia layout of a gallery entry.
struct CompactMinutia {
    uint16_t x;
    uint16_t y;
    uint16_t direction;
    uint8_t kind;      // a template's kind field (0..7)
    int8_t ring[4];    // ringQuantities
};

// Only for kinds a template can carry (0..255).
CompactMinutia compactMinutia(const Minutia& m);

// Record arrays the wide code reads eight at a time are padded to this.
constexpr int32_t kPaddedMinutiae = 64;

// The coarse grid of the reference: cell (cx, cy) holds, per direction bin
// (32 bins of 11.25 degrees, directionBin), a bit set when some reference
// minutia whose direction lies within reach of the bin is within reach of the
// cell. An aligned minutia whose grid bit is clear cannot pair; one whose bit
// is set is a candidate, tested exactly. The cell width is the smallest
// (at least kGridMinCell) that fits the reference's extent in kGridCells.
constexpr int32_t kGridCells = 1024;
constexpr int32_t kGridMinCell = 8;
constexpr int32_t kDirectionBins = 32;
// The grid is read with coordinates computed in single precision from the
// unrounded turn: they differ from the rounded aligned coordinate a by at most
// 1.5 below and 0.5 above (add one half and cut), plus far less than 0.01 of
// rounding, so a minutia within reach of x on an axis has its single-precision
// coordinate in (x - kReach - 1.51, x + kReach + 0.51): the grid marks the
// cells of [x - kGridReachBelow, x + kGridReachAbove].
constexpr int32_t kGridReachBelow = kReach + 2;
constexpr int32_t kGridReachAbove = kReach + 1;

// 0..31 for directions 0..359.
inline int32_t directionBin(int32_t direction) { return (direction * 91) >> 10; }

// The coarse index, read by the AVX-512 path before the grid: 16 cells per
// axis across the reference's extent and 16 direction bins of 22.5 degrees,
// each a mask of the reference minutiae within reach of it (the same reach as
// the grid). An aligned minutia whose three masks have no bit in common
// cannot pair.
constexpr int32_t kCoarseCells = 16;

// 0..15 for directions 0..359.
inline int32_t coarseDirectionBin(int32_t direction) { return (direction * 91) >> 11; }

struct PreparedReference {
    int32_t count;
    int32_t x[kMaxMinutiae];
    int32_t y[kMaxMinutiae];
    int32_t direction[kMaxMinutiae];
    int32_t kind[kMaxMinutiae];
    int8_t ring[kMaxMinutiae][4];
    // The same coordinates and directions for the wide exact test; records
    // after count lie far outside every reach.
    int16_t x16[kPaddedMinutiae];
    int16_t y16[kPaddedMinutiae];
    int16_t direction16[kPaddedMinutiae];
    // The grid: cell of a coordinate v is trunc((v - origin) * gridScale),
    // used when 0 <= cell < width (height); row-major.
    int32_t gridOriginX;
    int32_t gridOriginY;
    int32_t gridWidth;
    int32_t gridHeight;
    float gridScale;  // 1 / cell width
    uint32_t grid[kGridCells + 1];  // the word after the last cell is zero
    // The coarse index: cell of v is trunc((v - origin) * scale), used when
    // 0 <= cell < kCoarseCells.
    int32_t coarseOriginX;
    int32_t coarseOriginY;
    float coarseScaleX;
    float coarseScaleY;
    uint64_t coarseX[kCoarseCells];
    uint64_t coarseY[kCoarseCells];
    uint64_t coarseDirection[kCoarseCells];
};

// Fills the index from a set: count limited to 0..60, coordinates to 0..1023,
// directions taken modulo 360.
void prepareReference(const MinutiaSet& reference, PreparedReference& prepared);
// The same from compact records (count 0..60).
void prepareReference(const CompactMinutia* reference, int32_t count, PreparedReference& prepared);

// Reference minutiae within reach of an aligned minutia at (x, y) with
// direction 0..359: bit i set when |x - x_i| and |y - y_i| are at most kReach
// and the direction difference is at most kReach (the distance itself is
// tested by the pairing). Any int32 coordinates. The wide form (AVX2) gives
// the same bits.
uint64_t nearReference(const PreparedReference& ref, int32_t x, int32_t y, int32_t direction, bool wide);

// Bit i set for each reference minutia i of the given kind.
uint64_t kindMask(const PreparedReference& ref, int32_t kind);

// ---- Pairing and scoring ----------------------------------------------------

// One aligned probe set as the scoring reads it.
struct AlignedView {
    int32_t count;
    int32_t x[kMaxMinutiae];
    int32_t y[kMaxMinutiae];
    int32_t direction[kMaxMinutiae];  // 0..359
    uint64_t sameKind[kMaxMinutiae];  // bit i set when reference i has this minutia's kind
};

struct PairScore {
    int32_t score;
    int32_t pairCount;
};

// The pairing and score of one aligned set (both phases, continuation rule,
// quick-search interim end).
PairScore scorePrepared(const PreparedReference& reference, const AlignedView& aligned, bool quick);

// The pairing and score given a superset of the reference minutiae within
// reach of each aligned one (nearMask[j], read where bit j of hits is set;
// every direction in it within reach, the distance tested here).
PairScore pairUp(const PreparedReference& reference, const AlignedView& aligned, const uint64_t* nearMask,
                 uint64_t hits, bool quick);

// ---- The probe index and the anchor search -----------------------------------

// The probe set in the form the search reads it (independent of the
// reference). Records after count are zero.
struct PreparedProbe {
    int32_t count;
    int32_t direction[kPaddedMinutiae];  // 0..359
    int32_t kind[kMaxMinutiae];
    double xd[kMaxMinutiae];  // coordinates 0..1023
    double yd[kMaxMinutiae];
    float xf[kPaddedMinutiae];  // the same coordinates (exact in single precision)
    float yf[kPaddedMinutiae];
    int8_t ring[kMaxMinutiae][4];
};

void prepareProbe(const MinutiaSet& probe, PreparedProbe& prepared);

// The search of the best alignment (first anchor with the highest score, in
// reference-major order; the quick search's early end).
//
// floor: anchors that provably score floor or less are skipped, as if an
// alignment of score floor had been found first. When the plain search's best
// scores above floor the result is exactly the plain one; otherwise best.score
// is at most floor (the caller learns only that). In the quick search a floor
// above kQuickScore is read as kQuickScore, which keeps the early end at the
// same anchor. floor < 0 gives the plain result always.
//
// pairBound, when given, holds for each anchor an upper bound on the pairs it
// can form: row r (kAnchorBoundRow bytes) column p for anchor (r, p). Anchors
// whose bound cannot beat the best are skipped without a look-up.
// wide: the fastest path of this processor, else the portable path.
constexpr int32_t kAnchorBoundRow = 64;
void searchPrepared(const PreparedProbe& probe, const PreparedReference& reference, MatchResult& best, bool quick,
                    bool wide, int32_t floor, const uint8_t* pairBound = nullptr);

// The ways the anchor search can test anchors; all give the same results.
//  - portable: the grid read one aligned minutia at a time;
//  - avx2: the grid's arithmetic eight minutiae at a time, the exact test
//    sixteen reference minutiae at a time;
//  - avx512: as avx2, with a coarse test of sixteen aligned minutiae at a
//    time before the grid.
enum class LookUpPath { portable, avx2, avx512 };
bool lookUpPathAvailable(LookUpPath path);
// The fastest path this processor runs.
LookUpPath fastestLookUpPath();
// AVX2 is available (the exact test's wide form).
bool wideLookUpAvailable();

// The minutiae the first test of a path keeps for anchor (probe minutia p,
// reference minutia r): the grid's candidates (portable, avx2) or the coarse
// test's (avx512). Every aligned minutia within reach of a reference minutia
// is among them; tests hold the paths to that.
uint64_t anchorCandidates(const PreparedProbe& probe, const PreparedReference& reference, int32_t p, int32_t r,
                          LookUpPath path);

// searchPrepared on a given path.
void searchPreparedOnPath(const PreparedProbe& probe, const PreparedReference& reference, MatchResult& best,
                          bool quick, LookUpPath path, int32_t floor, const uint8_t* pairBound = nullptr);

// The score VerifyMatch reports (reportedScore of the plain search's best),
// found without the plain search where the reported-pairs rule allows: see
// anchor_search.cpp.
int32_t reportedSearch(const PreparedProbe& probe, const PreparedReference& reference, bool quick,
                       LookUpPath path);

// The search and the reported score over minutia sets, on a given path (an
// unavailable one falls back to the portable path).
void searchWithPath(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode,
                    LookUpPath path);
int32_t reportedWithPath(const MinutiaSet& probe, const MinutiaSet& reference, int32_t matchMode, LookUpPath path);

// The score VerifyMatch reports for a search's best alignment: the full
// search's scaling for few pairs, then 0 below kReportedPairs pairs. Never
// above best.score when that is 0 or more.
int32_t reportedScore(const MatchResult& best, bool quick);

}  // namespace orvane::match_internal
