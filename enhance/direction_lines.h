// The short straight lines along which the ridge filters look at the image,
// and the choice of line for an OrientationCode.
#pragma once

#include <cstdint>

namespace orvane {

// 12 directions, 15 degrees apart (row k at 15k degrees from +x towards +y),
// of 7 offsets (dx, dy) each; offset kLineCentre is the centre, (0, 0).
extern const int32_t DirectionLineTable[12][7][2];
constexpr int32_t kLineCentre = 3;

// Weights of the line means, weight i belonging to offset i. A mean is the
// weighted sum of the points divided by the sum of their weights; both the
// edge pixels (with the points outside the image left out) and the interior
// kernels take their weights from here.
inline constexpr int32_t kFilterAlongWeights[7] = {1, 1, 1, 1, 1, 1, 1};
inline constexpr int32_t kFilterAcrossWeights[7] = {-3, -1, 3, 9, 3, -1, -3};
inline constexpr int32_t kBinarizeAlongWeights[7] = {2, 2, 3, 4, 3, 2, 2};
inline constexpr int32_t kBinarizeAcrossWeights[7] = {1, 1, 1, 1, 1, 1, 1};

// The codes that select a line other than row 0: each row k >= 1 takes
// kCodesPerLine codes from kFirstLinedCode + (k - 1) * kCodesPerLine.
constexpr int32_t kFirstLinedCode = 8;
constexpr int32_t kLastLinedCode = 172;
constexpr int32_t kCodesPerLine = 15;

// Table row for an OrientationCode: (code - 8) / 15 + 1 for codes 8..172,
// 0 for every other value (255, the background mark, included).
constexpr int32_t directionIndex(int32_t code) {
    return code >= kFirstLinedCode && code <= kLastLinedCode ? (code - kFirstLinedCode) / kCodesPerLine + 1 : 0;
}

// The row across the ridge for along-the-ridge row k.
constexpr int32_t acrossIndex(int32_t k) { return (k + 6) % 12; }

}  // namespace orvane
