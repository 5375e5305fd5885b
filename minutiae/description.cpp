#include "minutiae/description.h"

#include <cmath>

#include "minutiae/skeleton.h"
#include "core/numeric.h"

namespace orvane {

namespace {
double pixelDistance(const Workspace& ws, int32_t a, int32_t b) {
    const int32_t dx = pixelX(ws, a) - pixelX(ws, b);
    const int32_t dy = pixelY(ws, a) - pixelY(ws, b);
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}
}  // namespace

int32_t cutJunction(Workspace& ws, int32_t x, int32_t y, BranchStarts& branches) {
    int32_t offsets[8];
    ringOffsets(ws.width, offsets);
    const int32_t p = y * ws.width + x;
    ws.imagePlane[p] = kBackground;
    branches.count = 0;
    for (int32_t i = 0; i < 8; ++i) {
        const int32_t n = p + offsets[i];
        if (ws.imagePlane[n] == kRidge) {
            branches.pixels[branches.count++] = n;
            ws.imagePlane[n] = kBackground;
        }
    }
    return branches.count;
}

void restoreJunction(Workspace& ws, int32_t x, int32_t y, const BranchStarts& branches) {
    ws.imagePlane[y * ws.width + x] = kRidge;
    for (int32_t i = 0; i < branches.count; ++i) ws.imagePlane[branches.pixels[i]] = kRidge;
}

int32_t closestBranchPair(double d01, double d02, double d12) {
    if (d12 < d02 && d12 < d01) return 2;
    if (d02 < d12 && d02 < d01) return 1;
    return 0;
}

int32_t flipToward(int32_t orientation, int32_t reference) {
    const int32_t t = turnAngle(reference, orientation);
    return (t > 90 && t < 270) ? orientation + 180 : orientation;
}

void sampleRingOrientations(const Workspace& ws, Minutia& record) {
    double theta = record.direction * kRadiansPerDegree + kQuarterPi;
    for (int32_t k = 0; k < 3; ++k) {
        if (k > 0) theta = theta + kTwoThirdsPi;
        const int32_t dy = static_cast<int32_t>(kRingRadius * std::sin(theta) + 0.5);
        const int32_t dx = static_cast<int32_t>(kRingRadius * std::cos(theta) + 0.5);
        record.ringOrientation[k] = ws.orientationPlane[(record.y + dy) * ws.width + record.x + dx];
    }
}

void describeTracedEnding(const Workspace& ws, int32_t x, int32_t y, int32_t traceEnd, Minutia& record) {
    const int32_t reference = pointDirection(x, y, pixelX(ws, traceEnd), pixelY(ws, traceEnd));
    record.x = x;
    record.y = y;
    record.direction = flipToward(ws.orientationPlane[y * ws.width + x], reference);
    sampleRingOrientations(ws, record);
    record.kind = kEnding;
}

bool describeEnding(const Workspace& ws, int32_t x, int32_t y, Minutia& record) {
    int32_t end;
    if (traceRidge(ws, y * ws.width + x, kMinutiaTraceSteps, end) != 0) return false;
    describeTracedEnding(ws, x, y, end, record);
    return true;
}

bool describeBifurcation(Workspace& ws, int32_t x, int32_t y, Minutia& record) {
    BranchStarts branches;
    if (cutJunction(ws, x, y, branches) != 3) {
        restoreJunction(ws, x, y, branches);
        return false;
    }
    int32_t ends[3];
    bool traced = true;
    for (int32_t i = 0; i < 3 && traced; ++i) {
        traced = traceRidge(ws, branches.pixels[i], kMinutiaTraceSteps, ends[i]) == 0;
    }
    restoreJunction(ws, x, y, branches);
    if (!traced) return false;

    const double d01 = pixelDistance(ws, ends[0], ends[1]);
    const double d02 = pixelDistance(ws, ends[0], ends[2]);
    const double d12 = pixelDistance(ws, ends[1], ends[2]);
    const int32_t pair = closestBranchPair(d01, d02, d12);
    const int32_t a = pair == 2 ? ends[1] : ends[0];
    const int32_t b = pair == 0 ? ends[1] : ends[2];
    const int32_t midX = (pixelX(ws, a) + pixelX(ws, b)) / 2;
    const int32_t midY = (pixelY(ws, a) + pixelY(ws, b)) / 2;
    const int32_t reference = pointDirection(x, y, midX, midY);
    record.x = x;
    record.y = y;
    record.direction = flipToward(ws.orientationPlane[y * ws.width + x], reference);
    sampleRingOrientations(ws, record);
    record.kind = kBifurcation;
    return true;
}

}  // namespace orvane
