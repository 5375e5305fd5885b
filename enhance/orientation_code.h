// The OrientationCode of a window from its doubled-angle gradient sums.
#pragma once

#include <cstdint>

namespace orvane {

// K = sum(gx^2 - gy^2), L = sum(2 gx gy): psi = atan2(K, L), plus 6.283186
// when negative, g = psi * 28.64789 rounded half up, code = (135 - g) mod 180
// (the gradient direction turned by 90 degrees). Computed literally.
int32_t orientationCodeByAtan2(int64_t k, int64_t l);

// The same code, found without atan2 unless the angle lies within 1e-10
// radians of a step of g: a rough angle picks g, and the two sector edges of
// g, where psi * 28.64789 + 0.5 crosses an integer, confirm it by the signs
// of cross products.
class OrientationCoder {
public:
    OrientationCoder();
    int32_t code(int64_t k, int64_t l) const;

private:
    // Sector edge j in the angle of (L, K): (j - 0.5) / 28.64789 for K > 0,
    // less 6.283186 for K < 0.
    double cosEdge_[2][182];
    double sinEdge_[2][182];
    int32_t codeAtPi_;
};

// The coder of the library, set up on first use.
const OrientationCoder& orientationCoder();

}  // namespace orvane
