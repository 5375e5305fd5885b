// Minutia detection. The tests compare it with reference::detectMinutiae
// (tests/minutiae/reference.cpp), which handles the candidate lists
// literally.
#include "minutiae/detection.h"

#include <cmath>

#include <cstring>

#include "core/simd.h"
#include "minutiae/description.h"
#include "minutiae/scan.h"
#include "minutiae/skeleton.h"
#include "core/numeric.h"

namespace orvane {

const int8_t OrientationCircle[28][2] = {
    {-5, 0}, {-5, 1}, {-5, 2},  {-4, 3},  {-3, 4},  {-2, 5},  {-1, 5},  {0, 5},   {1, 5},  {2, 5},
    {3, 4},  {4, 3},  {5, 2},   {5, 1},   {5, 0},   {5, -1},  {5, -2},  {4, -3},  {3, -4}, {2, -5},
    {1, -5}, {0, -5}, {-1, -5}, {-2, -5}, {-3, -4}, {-4, -3}, {-5, -2}, {-5, -1},
};

int32_t circleVariation(const Workspace& ws, int32_t x, int32_t y) {
    const uint8_t* o = ws.orientationPlane;
    const int32_t w = ws.width;
    int32_t sum = 0;
    for (int32_t i = 0; i < 28; ++i) {
        const int32_t j = (i + 1) % 28;
        const int32_t next = o[(y + OrientationCircle[j][1]) * w + x + OrientationCircle[j][0]];
        const int32_t here = o[(y + OrientationCircle[i][1]) * w + x + OrientationCircle[i][0]];
        sum += orientationDifference(next, here);
    }
    return sum;
}

namespace {

// Looks for the background value (255) in row[0..count) sixteen bytes at a
// time while they fit: true when found, else the count of bytes looked at
// in checked.
#if ORVANE_SSE2
bool holdsBackgroundVector(const uint8_t* row, int32_t count, int32_t& checked) {
    const __m128i full = _mm_set1_epi8(static_cast<char>(0xFF));
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, full))) return true;
    }
    checked = i;
    return false;
}
#else
bool holdsBackgroundVector(const uint8_t*, int32_t, int32_t& checked) {
    checked = 0;
    return false;
}
#endif

}  // namespace

bool touchesBackground(const Workspace& ws, int32_t x, int32_t y) {
    const int32_t w = ws.width;
    const int32_t x0 = x - kBackgroundHalfWindow > 0 ? x - kBackgroundHalfWindow : 0;
    const int32_t x1 = x + kBackgroundHalfWindow < w - 1 ? x + kBackgroundHalfWindow : w - 1;
    const int32_t y0 = y - kBackgroundHalfWindow > 0 ? y - kBackgroundHalfWindow : 0;
    const int32_t y1 = y + kBackgroundHalfWindow < ws.height - 1 ? y + kBackgroundHalfWindow : ws.height - 1;
    const int32_t span = x1 - x0 + 1;
    for (int32_t yy = y0; yy <= y1; ++yy) {
        const uint8_t* row = ws.orientationPlane + yy * w + x0;
        int32_t i = 0;
        if (holdsBackgroundVector(row, span, i)) return true;
        for (; i < span; ++i) {
            if (row[i] == 255) return true;
        }
    }
    return false;
}

int32_t scanCandidates(const Workspace& ws, CandidateList& endings, CandidateList& bifurcations) {
    endings.count = 0;
    bifurcations.count = 0;
    const int32_t w = ws.width;
    for (int32_t y = kScanMargin; y < ws.height - kScanMargin; ++y) {
        for (int32_t x0 = kScanMargin; x0 < w - kScanMargin; x0 += 64) {
            const int32_t span = w - kScanMargin - x0 < 64 ? w - kScanMargin - x0 : 64;
            uint64_t ridge = zeroBits(ws.imagePlane + y * w + x0, span);
            while (ridge) {
                const int32_t cx = x0 + countTrailingZeros(ridge);
                ridge &= ridge - 1;
                const int32_t p = y * w + cx;
                CandidateList* list;
                const int32_t crossings = crossingSum(ws, p);
                if (crossings == 1530) {
                    list = &bifurcations;
                } else if (crossings == 510) {
                    list = &endings;
                } else {
                    continue;
                }
                if (touchesBackground(ws, cx, y)) continue;
                if (circleVariation(ws, cx, y) > kCircleVariationLimit) continue;
                list->x[list->count] = cx;
                list->y[list->count] = y;
                if (++list->count == kCandidateCapacity) return 1;
            }
        }
    }
    return 0;
}

namespace {

constexpr int32_t kUnknown = 0;
constexpr int32_t kYes = 1;
constexpr int32_t kNo = 2;

inline bool isRemoved(const CandidateList& list, int32_t i) { return list.x[i] == 0 || list.y[i] == 0; }
inline void removeEntry(CandidateList& list, int32_t i) { list.x[i] = list.y[i] = 0; }

inline double entryDistance(const CandidateList& list, int32_t a, int32_t b) {
    const int32_t dx = list.x[a] - list.x[b];
    const int32_t dy = list.y[a] - list.y[b];
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

// What the attempts need of each candidate depends only on the skeleton,
// which is the same in every attempt, so it is worked out once.
struct EndingFacts {
    bool traced;
    int32_t direction;  // pointDirection from the candidate to its trace end
    Minutia record;
};

struct BifurcationFacts {
    int32_t threeBranches;  // kUnknown, kYes, kNo
    int32_t described;      // kUnknown, kYes, kNo
    Minutia record;
};

bool facing(int32_t dirA, int32_t dirB, int32_t aToB, int32_t bToA) {
    const int32_t t = turnAngle(dirA, dirB);
    const int32_t ta = turnAngle(dirA, aToB);
    const int32_t tb = turnAngle(dirB, bToA);
    const auto within = [](int32_t turn, int32_t tolerance) {
        return turn >= 180 - tolerance && turn <= 180 + tolerance;
    };
    return within(t, kFacingOppositeTolerance) && within(ta, kFacingAimTolerance) && within(tb, kFacingAimTolerance);
}

// What a pair filter does with a later entry b beyond the merge distance of
// entry a.
enum class Beyond { kKeep, kRemovePair, kStopScanning };

// For each entry a still in the list, in order: every later entry within
// mergeDistance, and every one that beyond(a, b, distance) says so of, is
// removed, and a with them if any was.
template <typename BeyondMerge>
void filterPairs(CandidateList& list, int32_t mergeDistance, BeyondMerge beyond) {
    for (int32_t a = 0; a < list.count; ++a) {
        if (isRemoved(list, a)) continue;
        bool marked = false;
        for (int32_t b = a + 1; b < list.count; ++b) {
            if (isRemoved(list, b)) continue;
            const double d = entryDistance(list, a, b);
            Beyond action = Beyond::kRemovePair;
            if (d > mergeDistance) action = beyond(a, b, d);
            if (action == Beyond::kStopScanning) break;
            if (action == Beyond::kRemovePair) {
                removeEntry(list, b);
                marked = true;
            }
        }
        if (marked) removeEntry(list, a);
    }
}

// Endings also go in pairs that face each other within kFacingDistance;
// an untraced ending a is compared no further.
void filterEndings(CandidateList& list, const EndingFacts* facts, int32_t mergeDistance) {
    filterPairs(list, mergeDistance, [&](int32_t a, int32_t b, double d) {
        if (d > kFacingDistance) return Beyond::kKeep;
        if (!facts[a].traced) return Beyond::kStopScanning;
        if (!facts[b].traced) return Beyond::kKeep;
        const int32_t aToB = pointDirection(list.x[a], list.y[a], list.x[b], list.y[b]);
        const int32_t bToA = pointDirection(list.x[b], list.y[b], list.x[a], list.y[a]);
        return facing(facts[a].direction, facts[b].direction, aToB, bToA) ? Beyond::kRemovePair : Beyond::kKeep;
    });
}

void filterBifurcations(CandidateList& list, int32_t mergeDistance) {
    filterPairs(list, mergeDistance, [](int32_t, int32_t, double) { return Beyond::kKeep; });
}

}  // namespace

StageResult detectMinutiae(Workspace& ws) {
    CandidateList savedEndings, savedBifurcations;
    if (scanCandidates(ws, savedEndings, savedBifurcations) != 0) return kStageFailed;

    const int32_t w = ws.width;
    EndingFacts endingFacts[kCandidateCapacity];
    for (int32_t i = 0; i < savedEndings.count; ++i) {
        const int32_t x = savedEndings.x[i], y = savedEndings.y[i];
        int32_t end;
        EndingFacts& f = endingFacts[i];
        f.traced = traceRidge(ws, y * w + x, kMinutiaTraceSteps, end) == 0;
        if (f.traced) {
            f.direction = pointDirection(x, y, pixelX(ws, end), pixelY(ws, end));
            describeTracedEnding(ws, x, y, end, f.record);
        }
    }
    BifurcationFacts bifurcationFacts[kCandidateCapacity];
    for (int32_t i = 0; i < savedBifurcations.count; ++i) {
        bifurcationFacts[i].threeBranches = kUnknown;
        bifurcationFacts[i].described = kUnknown;
    }

    MinutiaSet& set = ws.extractedSet;
    for (int32_t attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        CandidateList endings = savedEndings;
        CandidateList bifurcations = savedBifurcations;
        const int32_t endingMergeDistance = kEndingMergeBase + attempt;
        const int32_t bifurcationMergeDistance = kBifurcationMergeBase + attempt;

        filterEndings(endings, endingFacts, endingMergeDistance);
        int32_t traceable = 0;
        for (int32_t i = 0; i < endings.count; ++i) traceable += !isRemoved(endings, i) && endingFacts[i].traced;
        if (traceable >= kKindLimit) continue;

        int32_t stored = 0;
        for (int32_t i = 0; i < endings.count; ++i) {
            if (!isRemoved(endings, i) && endingFacts[i].traced) set.minutiae[stored++] = endingFacts[i].record;
        }

        filterBifurcations(bifurcations, bifurcationMergeDistance);
        int32_t threeBranched = 0;
        for (int32_t i = 0; i < bifurcations.count; ++i) {
            if (isRemoved(bifurcations, i)) continue;
            BifurcationFacts& f = bifurcationFacts[i];
            if (f.threeBranches == kUnknown) {
                BranchStarts branches;
                f.threeBranches = cutJunction(ws, bifurcations.x[i], bifurcations.y[i], branches) == 3 ? kYes : kNo;
                restoreJunction(ws, bifurcations.x[i], bifurcations.y[i], branches);
            }
            threeBranched += f.threeBranches == kYes;
        }
        if (threeBranched >= kKindLimit) continue;

        bool overfull = false;
        for (int32_t i = 0; i < bifurcations.count && !overfull; ++i) {
            if (isRemoved(bifurcations, i)) continue;
            BifurcationFacts& f = bifurcationFacts[i];
            if (f.described == kUnknown) {
                f.described = describeBifurcation(ws, bifurcations.x[i], bifurcations.y[i], f.record) ? kYes : kNo;
            }
            if (f.described != kYes) continue;
            // More than 60 records together: handled as a kind reaching 60.
            if (stored == kMaxMinutiae) {
                overfull = true;
            } else {
                set.minutiae[stored++] = f.record;
            }
        }
        if (overfull) continue;

        set.count = stored;
        return stored < kMinMinutiae ? kStageFailed : kStageCompleted;
    }
    return kStageFailed;
}

}  // namespace orvane
