// The matcher's entry points over minutia sets and templates. The pieces are
// in match_internal.h (scoring rule, reference index, pairing, anchor search).
#include "match/matcher.h"

#include <cmath>

#include "formats/feature_template.h"
#include "match/match_internal.h"
#include "core/numeric.h"

namespace orvane {

using namespace match_internal;

AlignmentScore scoreAlignedSet(const MinutiaSet& aligned, const MinutiaSet& reference, int32_t matchMode) {
    PreparedReference ref;
    prepareReference(reference, ref);
    AlignedView view;
    view.count = clampCount(aligned.count);
    for (int32_t j = 0; j < view.count; ++j) {
        const Minutia& m = aligned.minutiae[j];
        view.x[j] = m.x;
        view.y[j] = m.y;
        view.direction[j] = normalDirection(m.direction);
        view.sameKind[j] = kindMask(ref, m.kind);
    }
    const PairScore scored = scorePrepared(ref, view, matchMode == kQuickSearch);
    return AlignmentScore{scored.score, scored.pairCount};
}

bool ringOrientationsAgree(const Minutia& probe, const Minutia& reference) {
    int8_t p[4];
    int8_t r[4];
    ringQuantities(probe, p);
    ringQuantities(reference, r);
    return ringQuantitiesAgree(p, r);
}

namespace match_internal {

void searchWithPath(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode,
                    LookUpPath path) {
    PreparedReference ref;
    prepareReference(reference, ref);
    PreparedProbe prepared;
    prepareProbe(probe, prepared);
    searchPreparedOnPath(prepared, ref, result, matchMode == kQuickSearch, path, -1);
}

int32_t reportedWithPath(const MinutiaSet& probe, const MinutiaSet& reference, int32_t matchMode, LookUpPath path) {
    PreparedReference ref;
    prepareReference(reference, ref);
    PreparedProbe prepared;
    prepareProbe(probe, prepared);
    return reportedSearch(prepared, ref, matchMode == kQuickSearch, path);
}

namespace {
void adjustForFewPairs(MatchResult& result, bool quick) {
    if (!quick && result.matchedCount < kFullPairs) {
        result.score = roundHalfUp(std::sin(result.matchedCount * kPiOver30) * result.score);
    }
}
}  // namespace

int32_t reportedScore(const MatchResult& best, bool quick) {
    MatchResult adjusted = best;
    adjustForFewPairs(adjusted, quick);
    return adjusted.matchedCount < kReportedPairs ? 0 : adjusted.score;
}

}  // namespace match_internal

void searchBestAlignment(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result,
                         int32_t matchMode) {
    searchWithPath(probe, reference, result, matchMode, fastestLookUpPath());
}

void matchMinutiaSets(const MinutiaSet& probe, const MinutiaSet& reference, MatchResult& result, int32_t matchMode) {
    searchBestAlignment(probe, reference, result, matchMode);
    adjustForFewPairs(result, matchMode == kQuickSearch);
}

namespace {
// Unpacks both templates into the search's records. Not inlined: the decoded
// set lives only in this frame, which is gone before the search runs.
__attribute__((noinline)) bool prepareTemplates(const uint8_t* template1, const uint8_t* template2,
                                                PreparedProbe& probe, PreparedReference& reference) {
    MinutiaSet set;
    if (unpackTemplate(template1, &set) != 0) return false;
    prepareProbe(set, probe);
    if (unpackTemplate(template2, &set) != 0) return false;
    prepareReference(set, reference);
    return true;
}
}  // namespace

int32_t verifyTemplates(const uint8_t* template1, const uint8_t* template2, int32_t* score, int32_t flag) {
    if (!score) return kTemplateRefused;
    PreparedReference reference;
    PreparedProbe probe;
    if (!prepareTemplates(template1, template2, probe, reference)) return kTemplateRefused;
    const bool quick = (flag & 0xFF) != 0;
    *score = 0;
    *score = reportedSearch(probe, reference, quick, fastestLookUpPath());
    return 0;
}

}  // namespace orvane
