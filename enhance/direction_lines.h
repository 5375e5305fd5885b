// The short straight lines along which the ridge filters look at the image,
// and the choice of line for an OrientationCode.
#pragma once

#include <cstdint>

namespace orvane {

// 12 directions, 15 degrees apart (row k at 15k degrees from +x towards +y),
// of 7 offsets (dx, dy) each; offset 3 is the centre.
extern const int32_t DirectionLineTable[12][7][2];

// Weights of the line means, weight i belonging to offset i.
extern const int32_t kFilterAlongWeights[7];     // 1 1 1 1 1 1 1, sum 7
extern const int32_t kFilterAcrossWeights[7];    // -3 -1 3 9 3 -1 -3, sum 7
extern const int32_t kBinarizeAlongWeights[7];   // 2 2 3 4 3 2 2, sum 18
extern const int32_t kBinarizeAcrossWeights[7];  // 1 1 1 1 1 1 1, sum 7

// Table row for an OrientationCode: (code - 8) / 15 + 1 for codes 8..172,
// 0 for every other value (255, the background mark, included).
inline int32_t directionIndex(int32_t code) { return code >= 8 && code <= 172 ? (code - 8) / 15 + 1 : 0; }

// The row across the ridge for along-the-ridge row k.
inline int32_t acrossIndex(int32_t k) { return (k + 6) % 12; }

}  // namespace orvane
