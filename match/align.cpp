#include "match/align.h"

#include <cmath>
#include <cstring>

#include "match/match_internal.h"
#include "core/numeric.h"

namespace orvane {

namespace match_internal {

const TurnTable& turnTable() {
    struct Filled : TurnTable {
        Filled() {
            for (int32_t r = 0; r < 360; ++r) {
                const double theta = static_cast<double>(r) * kRadiansPerDegree;
                cosine[r] = std::cos(theta);
                sine[r] = std::sin(theta);
            }
        }
    };
    static const Filled table;  // filled once, constant afterwards
    return table;
}

namespace {
// Truncation towards zero; values beyond the 32-bit range are held at its ends.
int32_t truncateToInt(double v) {
    if (!(v > -2147483648.0)) return INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(v);
}
}  // namespace

void rotationCosSin(int32_t rotation, double& c, double& s) {
    if (rotation >= 0 && rotation < 360) {
        const TurnTable& t = turnTable();
        c = t.cosine[rotation];
        s = t.sine[rotation];
        return;
    }
    const double theta = static_cast<double>(rotation) * kRadiansPerDegree;
    c = std::cos(theta);
    s = std::sin(theta);
}

}  // namespace match_internal

void alignMinutiaSet(const MinutiaSet& source, MinutiaSet& destination, const Minutia& centre, int32_t rotation,
                     int32_t shiftX, int32_t shiftY) {
    using namespace match_internal;
    if (&source != &destination) std::memcpy(&destination, &source, sizeof destination);
    double c = 0.0;
    double s = 0.0;
    rotationCosSin(rotation, c, s);
    const double xc = centre.x;
    const double yc = centre.y;
    const double sx = shiftX;
    const double sy = shiftY;
    const int32_t count = clampCount(source.count);
    for (int32_t i = 0; i < count; ++i) {
        Minutia& m = destination.minutiae[i];
        // The integer offsets from the centre are exact in double precision.
        const double u = static_cast<double>(m.x) - xc;
        const double v = static_cast<double>(m.y) - yc;
        m.x = truncateToInt(u * c + xc - v * s + sx + 0.5);
        m.y = truncateToInt(v * c + u * s + sy + yc + 0.5);
        m.direction = normalDirection(static_cast<int64_t>(m.direction) + rotation);
    }
}

}  // namespace orvane
