#include "reference_matcher.h"

#include <cmath>
#include <cstdlib>

#include "core/numeric.h"

namespace orvane::reference {

namespace {
const int32_t DistanceTable[10][10] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},   {1, 1, 2, 3, 4, 5, 6, 7, 8, 9},   {2, 2, 2, 3, 4, 5, 6, 7, 8, 9},
    {3, 3, 3, 4, 5, 5, 6, 7, 8, 9},   {4, 4, 4, 5, 5, 6, 7, 8, 8, 9},   {5, 5, 5, 5, 6, 7, 7, 8, 9, 10},
    {6, 6, 6, 6, 7, 7, 8, 9, 10, 10}, {7, 7, 7, 7, 8, 8, 9, 9, 10, 11}, {8, 8, 8, 8, 8, 9, 10, 10, 11, 12},
    {9, 9, 9, 9, 9, 10, 10, 11, 12, 12},
};
}  // namespace

void alignSet(const MinutiaSet& source, MinutiaSet& destination, const Minutia& centre, int32_t rotation,
              int32_t shiftX, int32_t shiftY) {
    destination = source;
    const double theta = rotation * 0.01745329237161969;
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    const int32_t xc = centre.x;
    const int32_t yc = centre.y;
    for (int32_t i = 0; i < source.count; ++i) {
        Minutia& m = destination.minutiae[i];
        const int32_t u = m.x - xc;
        const int32_t v = m.y - yc;
        m.x = static_cast<int32_t>(u * c + xc - v * s + shiftX + 0.5);
        m.y = static_cast<int32_t>(v * c + u * s + shiftY + yc + 0.5);
        m.direction = (m.direction + rotation) % 360;
    }
}

int32_t scoreSet(const MinutiaSet& aligned, const MinutiaSet& reference, int32_t matchMode, int32_t& pairCount) {
    const int32_t nR = reference.count;
    const int32_t nA = aligned.count;
    bool referenceMark[60] = {};
    bool alignedMark[60] = {};
    int32_t n = 0;
    int32_t sum = 0;
    for (int32_t phase = 1; phase <= 2; ++phase) {
        if (phase == 2 && matchMode == 2) break;
        for (int32_t i = 0; i < nR; ++i) {
            if (referenceMark[i]) continue;
            const Minutia& r = reference.minutiae[i];
            for (int32_t j = 0; j < nA; ++j) {
                if (alignedMark[j]) continue;
                const Minutia& a = aligned.minutiae[j];
                if (phase == 1 ? r.kind != a.kind : r.kind == a.kind) continue;
                const int32_t e = directionDifference(r.direction, a.direction);
                if (e >= 10) continue;
                const int32_t dx = std::abs(r.x - a.x);
                if (dx >= 10) continue;
                const int32_t dy = std::abs(r.y - a.y);
                if (dy >= 10) continue;
                const int32_t d = DistanceTable[dx][dy];
                if (d >= 10) continue;
                referenceMark[i] = true;
                alignedMark[j] = true;
                ++n;
                if (phase == 1) {
                    sum += 20 - d - e;
                    if (matchMode == 2 && n >= 8) {
                        const int32_t interim = n * sum * 240 / ((nR + nA) * (nR + nA));
                        if (interim > 100) {
                            pairCount = n;
                            return interim;
                        }
                    }
                } else {
                    sum += (10 - e) / 2 + (10 - d) / 2;
                }
            }
        }
    }
    pairCount = n;
    if (n == 0) return 0;  // also keeps empty sets from dividing by zero
    return n * sum * 240 / ((nR + nA) * (nR + nA));
}

bool ringsAgree(const Minutia& p, const Minutia& r) {
    const int32_t* pr = p.ringOrientation;
    const int32_t* rr = r.ringOrientation;
    auto differs = [](int32_t a, int32_t b) { return std::abs(a - b) > 8; };
    if (pr[0] != 255 && rr[0] != 255 &&
        differs(orientationDifference(pr[0], p.direction % 180), orientationDifference(rr[0], r.direction % 180)))
        return false;
    if (pr[0] != 255 && pr[1] != 255 && rr[0] != 255 && rr[1] != 255 &&
        differs(orientationDifference(pr[0], pr[1]), orientationDifference(rr[0], rr[1])))
        return false;
    if (pr[1] != 255 && pr[2] != 255 && rr[1] != 255 && rr[2] != 255 &&
        differs(orientationDifference(pr[1], pr[2]), orientationDifference(rr[1], rr[2])))
        return false;
    if (pr[0] != 255 && pr[2] != 255 && rr[0] != 255 && rr[2] != 255 &&
        differs(orientationDifference(pr[0], pr[2]), orientationDifference(rr[0], rr[2])))
        return false;
    return true;
}

void search(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& best, int32_t matchMode) {
    best = MatchResult{0, 0, 0, 0, 0};
    MinutiaSet aligned;
    for (int32_t ri = 0; ri < reference.count; ++ri) {
        const Minutia& r = reference.minutiae[ri];
        for (int32_t pi = 0; pi < probe.count; ++pi) {
            const Minutia& p = probe.minutiae[pi];
            if (p.kind != r.kind) continue;
            if (matchMode == 2 && !ringsAgree(p, r)) continue;
            const int32_t rotation = turnAngle(p.direction, r.direction);
            const int32_t shiftX = r.x - p.x;
            const int32_t shiftY = r.y - p.y;
            alignSet(probe, aligned, p, rotation, shiftX, shiftY);
            int32_t n = 0;
            const int32_t score = scoreSet(aligned, reference, matchMode, n);
            if (score > best.score) {
                best = MatchResult{score, rotation, shiftX, shiftY, n};
                if (matchMode == 2 && n >= 8 && score > 100) return;
            }
        }
    }
}

void match(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode) {
    search(probe, reference, result, matchMode);
    adjust(result, matchMode);
}

void adjust(MatchResult& result, int32_t matchMode) {
    if (matchMode == 1 && result.matchedCount < 15) {
        result.score = static_cast<int32_t>(std::sin(result.matchedCount * 0.10471976666666666) * result.score + 0.5);
    }
}

}  // namespace orvane::reference
