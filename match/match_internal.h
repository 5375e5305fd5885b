// Internal pieces of the matcher shared by alignment, scoring and search:
// the rotation table, the distance table, reading of foreign field values and
// the prepared (indexed) form of the two sets.
#pragma once

#include <cstdint>

#include "formats/minutia.h"
#include "match/matcher.h"

namespace orvane::match_internal {

// A pair is made only when the direction difference, each axis offset and the
// table distance are all below this.
constexpr int32_t kPairLimit = 10;

// floor(sqrt(dx * dx + dy * dy)) for offsets 0..9; read only with offsets
// below 10.
extern const int32_t kDistanceTable[kPairLimit][kPairLimit];

// The largest coordinate a template field can carry (10 bits).
constexpr int32_t kCoordinateLimit = 1023;

// Cosine and sine of rotation * kRadiansPerDegree. Whole turns 0..359 come
// from a table filled once with the same library calls.
void rotationCosSin(int32_t rotation, double& c, double& s);

// Euclidean remainder of a direction by 360 (0..359 for every input).
inline int32_t normalDirection(int64_t direction) {
    int64_t d = direction % 360;
    return static_cast<int32_t>(d < 0 ? d + 360 : d);
}

inline int32_t clampCount(int32_t count) { return count < 0 ? 0 : (count > kMaxMinutiae ? kMaxMinutiae : count); }

inline int32_t clampCoordinate(int32_t v) { return v < 0 ? 0 : (v > kCoordinateLimit ? kCoordinateLimit : v); }

// The four ring quantities of a minutia compared by the ring agreement test;
// -1 where a ring value it uses is not available. A ring value outside 0..179
// counts as not available.
void ringQuantities(const Minutia& m, int32_t quantity[4]);

inline bool ringQuantitiesAgree(const int32_t* p, const int32_t* r) {
    for (int k = 0; k < 4; ++k) {
        if (p[k] < 0 || r[k] < 0) continue;
        const int32_t d = p[k] > r[k] ? p[k] - r[k] : r[k] - p[k];
        if (d > 8) return false;
    }
    return true;
}

// The reference set with masks that answer "which reference minutiae lie
// within 9 of this x / this y / this direction" with one load each.
constexpr int32_t kAxisCells = kCoordinateLimit + 2 * (kPairLimit - 1) + 3;  // guards at both ends
constexpr int32_t kDirectionCells = 720;                                     // direction + turn, 0..718

struct PreparedReference {
    int32_t count;
    int32_t originX;  // cell of coordinate v is v - originX, clamped to the zero guards
    int32_t originY;
    int32_t guardX;   // last cell of nearX in use, always zero
    int32_t guardY;
    int32_t x[kMaxMinutiae];
    int32_t y[kMaxMinutiae];
    int32_t direction[kMaxMinutiae];
    int32_t kind[kMaxMinutiae];
    uint64_t nearX[kAxisCells];
    uint64_t nearY[kAxisCells];
    uint64_t nearDirection[kDirectionCells];
};

// Fills the index from a set: count limited to 0..60, coordinates to 0..1023,
// directions taken modulo 360.
void prepareReference(const MinutiaSet& reference, PreparedReference& prepared);

// One aligned probe set as the scoring reads it.
struct AlignedView {
    int32_t count;
    int32_t x[kMaxMinutiae];
    int32_t y[kMaxMinutiae];
    int32_t direction[kMaxMinutiae];  // 0..719, read modulo 360
    uint64_t sameKind[kMaxMinutiae];  // bit i set when reference i has this minutia's kind
};

struct PairScore {
    int32_t score;
    int32_t pairCount;
};

// The pairing and score of one aligned set (both phases, continuation rule,
// quick-search interim end).
PairScore scorePrepared(const PreparedReference& reference, const AlignedView& aligned, bool quick);

// The pairing and score given the reference minutiae within reach of each
// aligned one (nearMask[j], read where bit j of hits is set).
PairScore pairUp(const PreparedReference& reference, const AlignedView& aligned, const uint64_t* nearMask,
                 uint64_t hits, bool quick);

// The search with the look-up of aligned minutiae done four at a time (AVX2,
// where the processor has it) or one at a time; both give the same result.
bool wideLookUpAvailable();
void searchWithPath(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode,
                    bool wide);

}  // namespace orvane::match_internal
