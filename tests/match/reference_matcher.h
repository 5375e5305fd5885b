// A direct transcription of the alignment and correspondence search, step by
// step with marks and double loops, kept as the yardstick for the fast matcher.
// It expects the values templates made by the library hold (coordinates 0..1023,
// directions 0..359, ring values 0..179 or 255).
#pragma once

#include <cstdint>

#include "core/minutia.h"
#include "match/matcher.h"

namespace orvane::reference {

void alignSet(const MinutiaSet& source, MinutiaSet& destination, const Minutia& centre, int32_t rotation,
              int32_t shiftX, int32_t shiftY);

// Returns the score; pairCount receives the pair count.
int32_t scoreSet(const MinutiaSet& aligned, const MinutiaSet& reference, int32_t matchMode, int32_t& pairCount);

bool ringsAgree(const Minutia& probe, const Minutia& reference);

void search(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode);

// The adjustment for few pairs (full search only).
void adjust(MatchResult& result, int32_t matchMode);

void match(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode);

}  // namespace orvane::reference
