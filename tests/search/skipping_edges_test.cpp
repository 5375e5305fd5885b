// The search's skipping where its rules are exactly met: entries whose best
// alignment has 7, 8 or more pairs, ties at the K-th score on either side of
// the K-th entry's index, thresholds at a score and one above it, and an
// entry whose highest-scoring alignment has fewer pairs than a lower-scoring
// one (the search must not report the lower one). Each against VerifyMatch on
// every entry and a sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "formats/feature_template.h"
#include "match/reference_matcher.h"
#include "orvane.h"
#include "search/search.h"
#include "support/synthetic_sets.h"

namespace orvane {
namespace {

using search::Hit;
using search::MatchMode;
using search::SearchOptions;

std::vector<uint8_t> pack(const MinutiaSet& set) {
    std::vector<uint8_t> t(kMaxTemplateBytes);
    t.resize(static_cast<size_t>(packTemplate(&set, t.data())));
    return t;
}

MinutiaSet firstOf(const MinutiaSet& set, int32_t count) {
    MinutiaSet out = synthetic::emptySet();
    out.count = count;
    std::copy(set.minutiae, set.minutiae + count, out.minutiae);
    return out;
}

void expectSearchEqualsExhaustive(const std::vector<uint8_t>& probeBytes,
                                  const std::vector<std::vector<uint8_t>>& gallery, const std::vector<size_t>& ks,
                                  const std::vector<int32_t>& thresholds) {
    search::TemplateSet set;
    for (const auto& t : gallery) ASSERT_TRUE(set.add(t.data(), t.size()));
    search::Probe probe;
    ASSERT_EQ(search::Probe::prepare(probeBytes.data(), probeBytes.size(), probe), 0);
    for (MatchMode mode : {MatchMode::Full, MatchMode::Quick}) {
        std::vector<Hit> scored;
        for (size_t i = 0; i < gallery.size(); ++i) {
            int32_t score = -1;
            ASSERT_EQ(VerifyMatch(probeBytes.data(), gallery[i].data(), &score, mode == MatchMode::Quick), 0);
            scored.push_back({i, score});
        }
        std::stable_sort(scored.begin(), scored.end(), [](const Hit& a, const Hit& b) { return a.score > b.score; });
        for (int32_t threshold : thresholds) {
            for (size_t k : ks) {
                std::vector<Hit> want;
                for (const Hit& h : scored) {
                    if (h.score >= threshold && want.size() < k) want.push_back(h);
                }
                for (unsigned threads : {1u, 2u, 7u}) {
                    SCOPED_TRACE(testing::Message() << "mode " << int(mode) << " threshold " << threshold << " K "
                                                    << k << " threads " << threads);
                    const auto got = search::search(set, probe, SearchOptions{k, threshold, mode, threads});
                    ASSERT_EQ(got.size(), want.size());
                    for (size_t i = 0; i < got.size(); ++i) {
                        EXPECT_EQ(got[i].index, want[i].index) << "rank " << i;
                        EXPECT_EQ(got[i].score, want[i].score) << "rank " << i;
                    }
                }
            }
        }
    }
}

// Entries holding exactly the probe's first n minutiae (n = 6..10, so 7 pairs
// report 0 and 8 the least score above it), repeated at spread indices so
// that the K-th score ties with entries before and after the K-th entry,
// among non-mated entries that mostly score 0.
TEST(SearchSkipping, EightPairEdgeTiesAtTheKthEntryAndThresholdsAtAScore) {
    std::mt19937 rng(4242);
    // Minutiae 40 apart: every pair of the identity alignment is exact and no
    // other alignment pairs more than a few.
    MinutiaSet probeSet = synthetic::emptySet();
    probeSet.count = 20;
    for (int32_t k = 0; k < probeSet.count; ++k) {
        probeSet.minutiae[k] = Minutia{60 + 40 * (k % 5), 60 + 40 * (k / 5), synthetic::uniform(rng, 0, 359),
                                       {255, 255, 255}, 1 + k % 2};
    }
    const std::vector<uint8_t> probe = pack(probeSet);
    const int32_t counts[] = {8, 7, 10, 8, 6, 9, 8, 7, 8, 10};
    std::vector<std::vector<uint8_t>> gallery;
    for (int32_t round = 0; round < 3; ++round) {
        for (int32_t n : counts) {
            gallery.push_back(pack(firstOf(probeSet, n)));
            for (int32_t filler = 0; filler < 5; ++filler) {
                gallery.push_back(pack(synthetic::randomSet(rng, synthetic::uniform(rng, 8, 40), 0, 0, 400, 400)));
            }
        }
    }
    int32_t eight = 0;
    ASSERT_EQ(VerifyMatch(probe.data(), pack(firstOf(probeSet, 8)).data(), &eight, 0), 0);
    ASSERT_GT(eight, 0);
    expectSearchEqualsExhaustive(probe, gallery, {1, 3, 4, 9, 12, 100}, {0, 1, eight, eight + 1});
}

// An entry whose best-scoring alignment has 7 exact pairs (reported 0) while
// another alignment has 8 weaker pairs: leaving the 7-pair anchors out would
// report the 8-pair alignment's score.
TEST(SearchSkipping, AShorterAlignmentThatScoresHigherStillDecides) {
    MinutiaSet probeSet = synthetic::emptySet();
    MinutiaSet referenceSet = synthetic::emptySet();
    // Group A: 7 minutiae, copied exactly.
    for (int32_t k = 0; k < 7; ++k) {
        const Minutia m{100 + 45 * k, 100, (10 + 37 * k) % 360, {255, 255, 255}, 1};
        probeSet.minutiae[probeSet.count++] = m;
        referenceSet.minutiae[referenceSet.count++] = m;
    }
    // Group B: 8 minutiae, turned by 90 degrees into another place, every
    // other one moved by (-3, -4) and turned 2 degrees more, the rest by (3, 3).
    for (int32_t k = 0; k < 8; ++k) {
        const Minutia m{100 + 45 * k, 300, (50 + 23 * k) % 360, {255, 255, 255}, 1};
        probeSet.minutiae[probeSet.count++] = m;
        const bool odd = k % 2 != 0;
        referenceSet.minutiae[referenceSet.count++] =
            Minutia{700 + (odd ? -3 : 3), 200 + 45 * k + (odd ? -4 : 3), (m.direction + 90 + (odd ? 2 : 0)) % 360,
                    {255, 255, 255}, 1};
    }
    // What the construction is for, by the plain transcription: the best
    // alignment has 7 pairs, and the first even anchor of group B has 8 pairs
    // with a lower score.
    MatchResult best;
    reference::search(probeSet, referenceSet, best, kFullSearch);
    ASSERT_EQ(best.matchedCount, 7);
    MinutiaSet aligned;
    const Minutia& p = probeSet.minutiae[7];
    const Minutia& r = referenceSet.minutiae[7];
    reference::alignSet(probeSet, aligned, p, (r.direction - p.direction + 360) % 360, r.x - p.x, r.y - p.y);
    int32_t pairs = 0;
    const int32_t weaker = reference::scoreSet(aligned, referenceSet, kFullSearch, pairs);
    ASSERT_GE(pairs, 8);
    ASSERT_GT(weaker, 0);
    ASSERT_LT(weaker, best.score);

    // Entries before it fill the top K with 0 (the floor is then 0).
    std::mt19937 rng(99);
    std::vector<std::vector<uint8_t>> gallery;
    for (int32_t filler = 0; filler < 4; ++filler) {
        gallery.push_back(pack(synthetic::randomSet(rng, 20, 500, 500, 300, 300)));
    }
    gallery.push_back(pack(referenceSet));
    gallery.push_back(pack(firstOf(probeSet, 15)));
    expectSearchEqualsExhaustive(pack(probeSet), gallery, {1, 2, 6}, {0, 1});
}

}  // namespace
}  // namespace orvane
