#include "error_rates.h"

#include <algorithm>

namespace orvane::cli {

namespace {

double mean(const std::vector<int32_t>& v) {
    if (v.empty()) return 0;
    double sum = 0;
    for (int32_t x : v) sum += x;
    return sum / static_cast<double>(v.size());
}

FmrPoint pointAt(const std::vector<DetPoint>& curve, double target, size_t impostors) {
    FmrPoint p;
    p.targetFmr = target;
    p.supported = target <= 0 || static_cast<double>(impostors) * target >= 1.0 - 1e-9;
    // FNMR rises with the threshold, so the first threshold reaching the
    // target gives the lowest FNMR.
    for (const DetPoint& d : curve) {
        if (d.fmr <= target) {
            p.fnmr = d.fnmr;
            p.threshold = d.threshold;
            break;
        }
    }
    return p;
}

}  // namespace

std::vector<DetPoint> detCurve(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor) {
    std::vector<int32_t> g(genuine), im(impostor);
    std::sort(g.begin(), g.end());
    std::sort(im.begin(), im.end());
    std::vector<int32_t> thresholds;
    thresholds.reserve(g.size() + im.size() + 1);
    thresholds.push_back(0);
    for (int32_t s : g) thresholds.push_back(s + 1);
    for (int32_t s : im) thresholds.push_back(s + 1);
    std::sort(thresholds.begin(), thresholds.end());
    thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
    std::vector<DetPoint> curve;
    curve.reserve(thresholds.size());
    for (int32_t t : thresholds) {
        const size_t gRejected = static_cast<size_t>(std::lower_bound(g.begin(), g.end(), t) - g.begin());
        const size_t iRejected = static_cast<size_t>(std::lower_bound(im.begin(), im.end(), t) - im.begin());
        DetPoint p;
        p.threshold = t;
        p.fnmr = g.empty() ? 0 : static_cast<double>(gRejected) / static_cast<double>(g.size());
        p.fmr = im.empty() ? 0 : static_cast<double>(im.size() - iRejected) / static_cast<double>(im.size());
        curve.push_back(p);
    }
    return curve;
}

ErrorRates computeErrorRates(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor) {
    ErrorRates r;
    r.genuineMean = mean(genuine);
    r.impostorMean = mean(impostor);
    r.rated = !genuine.empty() && !impostor.empty();
    const std::vector<DetPoint> curve = detCurve(genuine, impostor);
    r.fmr100 = pointAt(curve, 0.01, impostor.size());
    r.fmr1000 = pointAt(curve, 0.001, impostor.size());
    r.fmr10000 = pointAt(curve, 0.0001, impostor.size());
    r.zeroFmr = pointAt(curve, 0.0, impostor.size());
    if (!r.rated) return r;
    // FMR falls and FNMR rises with t: t1 is the last point of the curve with
    // FNMR <= FMR (the first point, t = 0, always is), t2 the first with
    // FNMR >= FMR (the last, above every score, always is).
    const DetPoint* t1 = &curve.front();
    const DetPoint* t2 = &curve.back();
    for (const DetPoint& p : curve) {
        if (p.fnmr <= p.fmr) t1 = &p;
    }
    for (auto it = curve.rbegin(); it != curve.rend(); ++it) {
        if (it->fnmr >= it->fmr) t2 = &*it;
    }
    if (t1->fnmr + t1->fmr <= t2->fmr + t2->fnmr) {
        r.eerLow = t1->fnmr;
        r.eerHigh = t1->fmr;
        r.eerThreshold = t1->threshold;
    } else {
        r.eerLow = t2->fmr;
        r.eerHigh = t2->fnmr;
        r.eerThreshold = t2->threshold;
    }
    r.eer = (r.eerLow + r.eerHigh) / 2;
    return r;
}

}  // namespace orvane::cli
