#include "enhance/orientation_code.h"

#include <cmath>

#include "core/numeric.h"

namespace orvane {

namespace {

int32_t codeOfG(int32_t g) {
    int32_t t = g - 135;
    if (t <= 0) t += 180;
    return 180 - t;
}

// atan on [0, 1] within about 1e-5 radians.
double roughAtan(double a) {
    const double a2 = a * a;
    return a * (0.9998660 + a2 * (-0.3302995 + a2 * (0.1801410 + a2 * (-0.0851330 + a2 * 0.0208351))));
}

// Angle guard: cross products are trusted to say on which side of an edge
// the vector lies only beyond this share of |K| + |L| (about 1e-10 radians;
// the rounding of psi, of its scaling and of the products is below 1e-13).
constexpr double kEdgeGuard = 1e-10;

}  // namespace

int32_t orientationCodeByAtan2(int64_t k, int64_t l) {
    double psi = std::atan2(static_cast<double>(k), static_cast<double>(l));
    if (psi < 0) psi += kTwoPi;
    return codeOfG(roundHalfUp(psi * kHalfDegreesPerRadian));
}

OrientationCoder::OrientationCoder() : codeAtPi_(orientationCodeByAtan2(0, -1)) {
    for (int32_t j = 0; j < 182; ++j) {
        const double edge = (j - 0.5) / kHalfDegreesPerRadian;
        cosEdge_[0][j] = std::cos(edge);
        sinEdge_[0][j] = std::sin(edge);
        cosEdge_[1][j] = std::cos(edge - kTwoPi);
        sinEdge_[1][j] = std::sin(edge - kTwoPi);
    }
}

int32_t OrientationCoder::code(int64_t k, int64_t l) const {
    // K == 0: psi is +0 (code 135, flat windows too) or pi.
    if (k == 0) return l < 0 ? codeAtPi_ : 135;
    // Sums too large for exact doubles take the literal way.
    constexpr int64_t kExact = int64_t{1} << 52;
    if (k >= kExact || k <= -kExact || l >= kExact || l <= -kExact) return orientationCodeByAtan2(k, l);
    const double y = static_cast<double>(k);
    const double x = static_cast<double>(l);
    const double ay = std::fabs(y), ax = std::fabs(x);
    double angle = ay <= ax ? roughAtan(ay / ax) : 1.5707963267948966 - roughAtan(ax / ay);
    if (x < 0) angle = 3.141592653589793 - angle;
    const int32_t branch = k < 0 ? 1 : 0;
    if (branch) angle = kTwoPi - angle;  // -angle + 6.283186
    int32_t g = static_cast<int32_t>(angle * kHalfDegreesPerRadian + 0.5);
    if (g < 0) g = 0;
    if (g > 180) g = 180;
    // The angle of (L, K) must lie above edge g and below edge g + 1.
    const double guard = kEdgeGuard * (ay + ax);
    const double aboveLow = y * cosEdge_[branch][g] - x * sinEdge_[branch][g];
    const double belowHigh = x * sinEdge_[branch][g + 1] - y * cosEdge_[branch][g + 1];
    if (aboveLow > guard && belowHigh > guard) return codeOfG(g);
    return orientationCodeByAtan2(k, l);
}

const OrientationCoder& orientationCoder() {
    static const OrientationCoder coder;  // built on first use
    return coder;
}

}  // namespace orvane
