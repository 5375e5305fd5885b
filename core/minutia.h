// In-memory minutia records shared by detection and matching.
#pragma once

#include <cstdint>

namespace orvane {

constexpr int kMaxMinutiae = 60;
constexpr int kMaxTemplateBytes = 7 * kMaxMinutiae + 4;  // 424

enum MinutiaKind : int32_t { kEnding = 1, kBifurcation = 2 };

// Ring orientation value meaning "no sample available".
constexpr int32_t kNoRingOrientation = 255;

struct Minutia {
    int32_t x;
    int32_t y;
    int32_t direction;           // 0..359, 90 points towards increasing y
    int32_t ringOrientation[3];  // OrientationCode 0..179, or 255
    int32_t kind;                // 1 ending, 2 bifurcation
};

struct MinutiaSet {
    int32_t count;
    Minutia minutiae[kMaxMinutiae];
};

}  // namespace orvane
