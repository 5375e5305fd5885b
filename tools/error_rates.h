// Error rates of a matcher from its genuine and impostor scores, as the
// fingerprint verification competitions define them. A comparison is
// accepted when its score is at least the threshold t:
//   FMR(t)  = share of impostor scores >= t
//   FNMR(t) = share of genuine scores < t
#pragma once

#include <cstdint>
#include <vector>

namespace orvane::cli {

struct DetPoint {
    int32_t threshold;
    double fmr;
    double fnmr;
};

// FMR and FNMR at every threshold where either changes (0 and one above
// each score), ascending threshold.
std::vector<DetPoint> detCurve(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor);

// An operating point at a target FMR: the lowest FNMR with FMR(t) <= target,
// and the lowest threshold giving it. Supported only when there are enough
// impostor comparisons for the target to be reached by more than chance
// (at least 1 / target of them).
struct FmrPoint {
    double targetFmr = 0;
    bool supported = false;
    double fnmr = 1;
    int32_t threshold = 0;
};

struct ErrorRates {
    // Equal error rate. With t1 = max{t: FNMR(t) <= FMR(t)} and
    // t2 = min{t: FNMR(t) >= FMR(t)}, the interval is [FNMR(t1), FMR(t1)]
    // when FNMR(t1) + FMR(t1) <= FMR(t2) + FNMR(t2), else [FMR(t2), FNMR(t2)];
    // the EER is its midpoint and eerThreshold the t (t1 or t2) chosen.
    double eer = 0;
    double eerLow = 0;
    double eerHigh = 0;
    int32_t eerThreshold = 0;
    FmrPoint fmr100;    // FNMR at FMR <= 1%
    FmrPoint fmr1000;   // FNMR at FMR <= 0.1%
    FmrPoint fmr10000;  // FNMR at FMR <= 0.01% (thresholds only)
    FmrPoint zeroFmr;   // FNMR at FMR = 0 (always supported)
    double genuineMean = 0;
    double impostorMean = 0;
    bool rated = false;  // both kinds of comparisons were there
};

ErrorRates computeErrorRates(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor);

}  // namespace orvane::cli
