#include "minutiae/skeleton.h"

#include <cmath>

#include "core/numeric.h"

namespace orvane {

int32_t pointDirection(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    double a = std::atan2(static_cast<double>(y2 - y1), static_cast<double>(x2 - x1));
    if (a < 0) a += kTwoPi;
    return static_cast<int32_t>(a * kDegreesPerRadian + 0.5);
}

}  // namespace orvane
