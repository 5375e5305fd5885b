// The tuning parameters of extraction and quality, each named once. Every
// template and quality value depends on them: changing one changes results.
#pragma once

#include <cstdint>

namespace orvane {

// --- Orientation field and segmentation --------------------------------

// Radius of the gradient window around each half-resolution pixel.
constexpr int32_t kOrientationRadius = 6;
// Radius of the box mean of gradient strength that segmentation thresholds.
constexpr int32_t kSegmentationRadius = 12;
// Least mean gradient strength of a foreground pixel in extraction.
constexpr int32_t kSegmentationThreshold = 35;
// The same for the quality score, which is more lenient than extraction.
constexpr int32_t kQualityThreshold = 32;
// Extraction needs at least pixelCount / kForegroundShareDivisor foreground
// pixels (a tenth of the frame).
constexpr int32_t kForegroundShareDivisor = 10;
// Foreground share of the frame that scores a quality of 100.
constexpr double kFullQualityShare = 0.8;

// --- Ridge image --------------------------------------------------------

// A filtered pixel darker than this is ridge whatever its line means say.
constexpr int32_t kRidgeDarkLevel = 4;
// Most passes of the ridge image's noise removal.
constexpr int32_t kNoisePasses = 8;

// --- Skeleton clean-up ---------------------------------------------------

// Longest spur or fragment, in pixels, that the clean-up erases.
constexpr int32_t kMaxPieceLength = 12;

// --- Minutia detection ---------------------------------------------------

// Candidates of one kind that end the detection as a failure.
constexpr int32_t kCandidateCapacity = 100;
// No candidate lies closer than this to the image border.
constexpr int32_t kScanMargin = 17;
// Half-size of the window around a candidate that must hold no background.
constexpr int32_t kBackgroundHalfWindow = 16;
// Largest orientation change around the circle of a candidate (ridge flow
// disturbed by a core or delta above it).
constexpr int32_t kCircleVariationLimit = 96;
// Endings (bifurcations) closer than base + attempt are both removed.
constexpr int32_t kEndingMergeBase = 6;
constexpr int32_t kBifurcationMergeBase = 4;
// Endings up to this far apart are removed when they face each other.
constexpr int32_t kFacingDistance = 16;
// Two endings face each other when their ridges run apart within this many
// degrees of opposite...
constexpr int32_t kFacingOppositeTolerance = 90;
// ...and each ridge runs away from the other within this many degrees.
constexpr int32_t kFacingAimTolerance = 30;
// Advances of every trace from a minutia along its ridge.
constexpr int32_t kMinutiaTraceSteps = 8;
// Distance from a minutia of the three points whose ridge orientations the
// template stores beside it.
constexpr double kRingRadius = 16.0;
// Endings or bifurcations that start a new attempt with larger distances.
constexpr int32_t kKindLimit = 60;
// Attempts before the detection gives up.
constexpr int32_t kMaxAttempts = 31;
// Fewest minutiae of a successful extraction.
constexpr int32_t kMinMinutiae = 8;

// --- Matching ------------------------------------------------------------
// The scoring rule; match/match_internal.h builds the matcher's bounds on it.

// A pair is made only when the direction difference, each axis offset and the
// table distance are all below this.
constexpr int32_t kPairLimit = 10;
// A same-kind pair adds 20 - distance - direction error, a pair of different
// kinds (10 - error) / 2 + (10 - distance) / 2: never more than this.
constexpr int32_t kMaxContribution = 20;
// The score is pairs x contributions x kScoreScale / (nR + nA)^2.
constexpr int32_t kScoreScale = 240;
// The quick search ends at an alignment that becomes the best with at least
// kQuickPairs pairs and a score above kQuickScore (also inside the pairing).
constexpr int32_t kQuickPairs = 8;
constexpr int32_t kQuickScore = 100;
// VerifyMatch reports 0 unless the best alignment has this many pairs.
constexpr int32_t kReportedPairs = 8;
// The full search scales the score down for fewer pairs than this.
constexpr int32_t kFullPairs = 15;

}  // namespace orvane
