// Correspondence search over rigid alignments and the match score.
#pragma once

#include <cstdint>

#include "formats/minutia.h"

namespace orvane {

constexpr int32_t kFullSearch = 1;
constexpr int32_t kQuickSearch = 2;

struct MatchResult {
    int32_t score;
    int32_t rotation;
    int32_t shiftX;
    int32_t shiftY;
    int32_t matchedCount;
};

// Searches the best alignment of probe onto reference and, in the full
// search, scales the score down for fewer than 15 pairs.
void matchMinutiaSets(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode);

// The VerifyMatch export over two templates: 0 (score written) or 10700.
int32_t verifyTemplates(const uint8_t* template1, const uint8_t* template2, int32_t* score, int32_t flag);

}  // namespace orvane
