// Angle helpers and constants shared by every stage. The constants are used
// exactly as stored (they derive from pi = 3.141593); results depend on them.
#pragma once

#include <cstdint>

namespace orvane {

constexpr double kTwoPi = 6.283186;
constexpr double kQuarterPi = 0.78539825;
constexpr double kTwoThirdsPi = 2.0943953333333334;
constexpr double kPiOver30 = 0.10471976666666666;
constexpr double kDegreesPerRadian = 57.29578;
constexpr double kHalfDegreesPerRadian = 28.64789;
constexpr double kRadiansPerDegree = 0.01745329237161969;

// Add one half and truncate towards zero, in double precision.
inline int32_t roundHalfUp(double value) { return static_cast<int32_t>(value + 0.5); }

// 0..90
inline int32_t orientationDifference(int32_t a, int32_t b) {
    int32_t d = a > b ? a - b : b - a;
    return d > 90 ? 180 - d : d;
}

// 0..180
inline int32_t directionDifference(int32_t a, int32_t b) {
    int32_t d = a > b ? a - b : b - a;
    return d > 180 ? 360 - d : d;
}

inline int32_t turnAngle(int32_t a, int32_t b) {
    int32_t t = b - a;
    return t < 0 ? t + 360 : t;
}

}  // namespace orvane
