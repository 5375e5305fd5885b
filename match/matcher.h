// Correspondence search over rigid alignments and the match score.
//
// Field values beyond what a template made by this library holds are read as
// follows: a count is limited to 0..60, a direction is taken modulo 360, the
// coordinates of a probe or reference set are limited to 0..1023 (the range a
// template field can carry), and a ring value outside 0..179 counts as not
// available (like 255). Kinds are compared as they are. Coordinates of an
// aligned set are used as they are, negative ones included.
#pragma once

#include <cstdint>

#include "core/minutia.h"

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

struct AlignmentScore {
    int32_t score;
    int32_t pairCount;
};

// Pairs the minutiae of an aligned probe set with the reference set (same
// kinds first, then, in the full search, different kinds among those left)
// and scores the pairing. matchMode kQuickSearch selects the quick search;
// any other value the full search.
AlignmentScore scoreAlignedSet(const MinutiaSet& aligned, const MinutiaSet& reference, int32_t matchMode);

// Ring agreement of a quick-search anchor.
bool ringOrientationsAgree(const Minutia& probe, const Minutia& reference);

// Tries every anchor (reference-major, then probe) and keeps the first
// alignment with the highest score; the quick search ends at an alignment that
// becomes the best with at least 8 pairs and a score above 100.
void searchBestAlignment(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result,
                         int32_t matchMode);

// Searches the best alignment of probe onto reference and, in the full
// search, scales the score down for fewer than 15 pairs.
void matchMinutiaSets(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode);

// verifyTemplates' status when a template is null or damaged (the score is
// then untouched); 0 is success.
constexpr int32_t kTemplateRefused = 1;

// The VerifyMatch export over two templates: 0 (score written) or
// kTemplateRefused.
int32_t verifyTemplates(const uint8_t* template1, const uint8_t* template2, int32_t* score, int32_t flag);

}  // namespace orvane
