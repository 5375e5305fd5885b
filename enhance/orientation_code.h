// The OrientationCode of a window from its doubled-angle gradient sums.
#pragma once

#include <cmath>
#include <cstdint>

#include "workspace/numeric.h"

namespace orvane {

// K = sum(gx^2 - gy^2), L = sum(2 gx gy). The ridge direction is the gradient
// direction turned by 90 degrees, as a code of 0..179.
inline int32_t orientationCode(int64_t k, int64_t l) {
    double psi = std::atan2(static_cast<double>(k), static_cast<double>(l));
    if (psi < 0) psi += kTwoPi;
    const int32_t g = roundHalfUp(psi * kHalfDegreesPerRadian);
    int32_t t = g - 135;
    if (t <= 0) t += 180;
    return 180 - t;
}

}  // namespace orvane
