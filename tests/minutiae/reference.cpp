#include "reference.h"

#include <cmath>
#include <cstring>

#include "core/parameters.h"
#include "minutiae/description.h"
#include "minutiae/detection.h"
#include "minutiae/skeleton.h"
#include "minutiae/thinning.h"
#include "core/numeric.h"

namespace orvane::reference {

void thinImage(Workspace& ws, uint8_t* plane, int32_t width, int32_t height) {
    const int32_t w = width;
    std::memcpy(ws.scratchPlane, plane, static_cast<size_t>(width * height));
    auto code = [&](int32_t x, int32_t y) {
        auto at = [&](int32_t xx, int32_t yy) { return plane[yy * w + xx] / 255; };
        return at(x - 1, y + 1) * 1 + at(x, y + 1) * 2 + at(x + 1, y + 1) * 4 + at(x - 1, y) * 8 +
               at(x + 1, y) * 16 + at(x - 1, y - 1) * 32 + at(x, y - 1) * 64 + at(x + 1, y - 1) * 128;
    };
    bool changed = true;
    while (changed) {
        changed = false;
        for (int32_t y = 1; y <= height - 2; ++y) {
            for (int32_t x = 1; x <= width - 2; ++x) {
                const int32_t p = y * w + x;
                if (plane[p] != 0 || (plane[p - 1] != 255 && plane[p + 1] != 255)) continue;
                if (ThinningTable[code(x, y)] == 1) {
                    plane[p] = 255;
                    ws.scratchPlane[p] = 255;
                    changed = true;
                    ++x;
                }
            }
        }
        for (int32_t x = 1; x <= width - 2; ++x) {
            for (int32_t y = 1; y <= height - 2; ++y) {
                const int32_t p = y * w + x;
                if (plane[p] != 0 || (plane[p + w] != 255 && plane[p - w] != 255)) continue;
                if (ThinningTable[code(x, y)] == 1) {
                    plane[p] = 255;
                    ws.scratchPlane[p] = 255;
                    changed = true;
                    ++y;
                }
            }
        }
    }
    std::memcpy(plane, ws.scratchPlane, static_cast<size_t>(width * height));
}

void cleanSkeleton(Workspace& ws, int32_t maxPieceLength) {
    const int32_t w = ws.width;
    int32_t ring[8];
    ringOffsets(w, ring);
    uint8_t* plane = ws.imagePlane;
    for (int32_t y = 1; y < ws.height - 1; ++y) {
        for (int32_t x = 1; x < w - 1; ++x) {
            const int32_t p = y * w + x;
            if (plane[p] != 0) continue;
            int32_t count = 0, first = -1;
            for (int32_t i = 0; i < 8; ++i) {
                if (plane[p + ring[i]] == 0) {
                    if (count == 0) first = p + ring[i];
                    ++count;
                }
            }
            if (count == 0) {
                plane[p] = 255;
            } else if (count == 1 && maxPieceLength >= 1) {
                int32_t piece[25];
                int32_t n = 0;
                piece[n++] = p;
                int32_t prev = p, cur = first, advances = 0;
                while (true) {
                    if (isBifurcationPixel(ws, cur)) break;
                    piece[n++] = cur;
                    int32_t next;
                    if (nextRidgePixel(ws, cur, prev, next) == 1) break;
                    prev = cur;
                    cur = next;
                    advances = advances + 1;
                    if (advances == maxPieceLength) break;
                }
                if (n <= maxPieceLength) {
                    for (int32_t i = 0; i < n; ++i) plane[piece[i]] = 255;
                }
            }
        }
    }
}

namespace {

bool backgroundNear(const Workspace& ws, int32_t x, int32_t y) {
    for (int32_t yy = y - kBackgroundHalfWindow; yy <= y + kBackgroundHalfWindow; ++yy) {
        for (int32_t xx = x - kBackgroundHalfWindow; xx <= x + kBackgroundHalfWindow; ++xx) {
            if (xx < 0 || yy < 0 || xx >= ws.width || yy >= ws.height) continue;
            if (ws.orientationPlane[yy * ws.width + xx] == 255) return true;
        }
    }
    return false;
}

double distance(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    return std::sqrt(static_cast<double>((x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2)));
}

}  // namespace

int32_t detectMinutiae(Workspace& ws) {
    const int32_t w = ws.width;
    CandidateList endings{}, bifurcations{};
    for (int32_t y = kScanMargin; y < ws.height - kScanMargin; ++y) {
        for (int32_t x = kScanMargin; x < w - kScanMargin; ++x) {
            const int32_t p = y * w + x;
            if (ws.imagePlane[p] != 0) continue;
            CandidateList* list;
            if (isBifurcationPixel(ws, p)) {
                list = &bifurcations;
            } else if (isEndingPixel(ws, p)) {
                list = &endings;
            } else {
                continue;
            }
            if (backgroundNear(ws, x, y)) continue;
            int32_t sum = 0;
            for (int32_t i = 0; i < 28; ++i) {
                const int32_t j = (i + 1) % 28;
                sum += orientationDifference(
                    ws.orientationPlane[(y + OrientationCircle[j][1]) * w + x + OrientationCircle[j][0]],
                    ws.orientationPlane[(y + OrientationCircle[i][1]) * w + x + OrientationCircle[i][0]]);
            }
            if (sum > kCircleVariationLimit) continue;
            list->x[list->count] = x;
            list->y[list->count] = y;
            list->count++;
            if (list->count == kCandidateCapacity) return 1;
        }
    }
    const CandidateList savedEndings = endings, savedBifurcations = bifurcations;
    for (int32_t r = 1; r <= kMaxAttempts; ++r) {
        endings = savedEndings;
        bifurcations = savedBifurcations;
        const int32_t endingMerge = kEndingMergeBase + r, bifurcationMerge = kBifurcationMergeBase + r;
        for (int32_t a = 0; a < endings.count; ++a) {
            if (endings.x[a] == 0 || endings.y[a] == 0) continue;
            bool mark = false;
            for (int32_t b = a + 1; b < endings.count; ++b) {
                if (endings.x[b] == 0 || endings.y[b] == 0) continue;
                const double d = distance(endings.x[a], endings.y[a], endings.x[b], endings.y[b]);
                if (d <= endingMerge) {
                    endings.x[b] = endings.y[b] = 0;
                    mark = true;
                } else if (d <= kFacingDistance) {
                    int32_t endA, endB;
                    if (traceRidge(ws, endings.y[a] * w + endings.x[a], kMinutiaTraceSteps, endA) != 0) break;
                    const int32_t dirA = pointDirection(endings.x[a], endings.y[a], pixelX(ws, endA), pixelY(ws, endA));
                    if (traceRidge(ws, endings.y[b] * w + endings.x[b], kMinutiaTraceSteps, endB) != 0) continue;
                    const int32_t dirB = pointDirection(endings.x[b], endings.y[b], pixelX(ws, endB), pixelY(ws, endB));
                    const int32_t t = turnAngle(dirA, dirB);
                    const int32_t ta = turnAngle(dirA, pointDirection(endings.x[a], endings.y[a], endings.x[b], endings.y[b]));
                    const int32_t tb = turnAngle(dirB, pointDirection(endings.x[b], endings.y[b], endings.x[a], endings.y[a]));
                    if (t >= 180 - kFacingOppositeTolerance && t <= 180 + kFacingOppositeTolerance &&
                        ta >= 180 - kFacingAimTolerance && ta <= 180 + kFacingAimTolerance &&
                        tb >= 180 - kFacingAimTolerance && tb <= 180 + kFacingAimTolerance) {
                        endings.x[b] = endings.y[b] = 0;
                        mark = true;
                    }
                }
            }
            if (mark) endings.x[a] = endings.y[a] = 0;
        }
        int32_t count = 0;
        for (int32_t i = 0; i < endings.count; ++i) {
            int32_t end;
            if (endings.x[i] != 0 && endings.y[i] != 0 &&
                traceRidge(ws, endings.y[i] * w + endings.x[i], kMinutiaTraceSteps, end) == 0)
                ++count;
        }
        if (count >= kKindLimit) continue;
        int32_t stored = 0;
        for (int32_t i = 0; i < endings.count; ++i) {
            if (endings.x[i] == 0 || endings.y[i] == 0) continue;
            Minutia m;
            if (describeEnding(ws, endings.x[i], endings.y[i], m)) ws.extractedSet.minutiae[stored++] = m;
        }
        for (int32_t a = 0; a < bifurcations.count; ++a) {
            if (bifurcations.x[a] == 0 || bifurcations.y[a] == 0) continue;
            bool mark = false;
            for (int32_t b = a + 1; b < bifurcations.count; ++b) {
                if (bifurcations.x[b] == 0 || bifurcations.y[b] == 0) continue;
                if (distance(bifurcations.x[a], bifurcations.y[a], bifurcations.x[b], bifurcations.y[b]) <=
                    bifurcationMerge) {
                    bifurcations.x[b] = bifurcations.y[b] = 0;
                    mark = true;
                }
            }
            if (mark) bifurcations.x[a] = bifurcations.y[a] = 0;
        }
        count = 0;
        for (int32_t i = 0; i < bifurcations.count; ++i) {
            if (bifurcations.x[i] == 0 || bifurcations.y[i] == 0) continue;
            BranchStarts branches;
            if (cutJunction(ws, bifurcations.x[i], bifurcations.y[i], branches) == 3) ++count;
            restoreJunction(ws, bifurcations.x[i], bifurcations.y[i], branches);
        }
        if (count >= kKindLimit) continue;
        bool over = false;
        for (int32_t i = 0; i < bifurcations.count; ++i) {
            if (bifurcations.x[i] == 0 || bifurcations.y[i] == 0) continue;
            Minutia m;
            if (!describeBifurcation(ws, bifurcations.x[i], bifurcations.y[i], m)) continue;
            if (stored == kMaxMinutiae) {
                over = true;
                break;
            }
            ws.extractedSet.minutiae[stored++] = m;
        }
        if (over) continue;
        ws.extractedSet.count = stored;
        return stored < kMinMinutiae ? 1 : 0;
    }
    return 1;
}

}  // namespace orvane::reference
