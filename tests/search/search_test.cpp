// The 1:N search against the exhaustive rule: score every entry with
// VerifyMatch, keep those at or above the threshold, sort by score descending
// then index, take K.
#include "search/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "formats/feature_template.h"
#include "support/synthetic_sets.h"
#include "orvane.h"

namespace orvane {
namespace {

using search::Hit;
using search::MatchMode;
using search::Probe;
using search::SearchOptions;
using search::TemplateSet;

std::vector<uint8_t> pack(const MinutiaSet& set) {
    std::vector<uint8_t> t(kMaxTemplateBytes);
    t.resize(static_cast<size_t>(packTemplate(&set, t.data())));
    return t;
}

// A gallery of several impressions of a few fingers, so that mated entries
// score high and many entries tie at 0; duplicates make ties above 0.
std::vector<std::vector<uint8_t>> makeGallery(std::mt19937& rng, size_t size, size_t fingers) {
    std::vector<synthetic::Finger> pool;
    for (size_t f = 0; f < fingers; ++f) pool.push_back(synthetic::makeFinger(rng, synthetic::uniform(rng, 25, 55)));
    std::vector<std::vector<uint8_t>> gallery;
    while (gallery.size() < size) {
        if (!gallery.empty() && synthetic::chance(rng, 0.1)) {
            gallery.push_back(gallery[static_cast<size_t>(synthetic::uniform(rng, 0, int32_t(gallery.size()) - 1))]);
            continue;
        }
        const auto& finger = pool[static_cast<size_t>(synthetic::uniform(rng, 0, int32_t(fingers) - 1))];
        gallery.push_back(pack(synthetic::impress(rng, finger, synthetic::randomImpression(rng))));
    }
    return gallery;
}

std::vector<Hit> exhaustive(const std::vector<uint8_t>& probe, const std::vector<std::vector<uint8_t>>& gallery,
                            const SearchOptions& o) {
    std::vector<Hit> all;
    for (size_t i = 0; i < gallery.size(); ++i) {
        int32_t score = -1;
        EXPECT_EQ(VerifyMatch(probe.data(), gallery[i].data(), &score, o.mode == MatchMode::Quick ? 1 : 0), 0);
        if (score >= o.threshold) all.push_back(Hit{i, score});
    }
    std::stable_sort(all.begin(), all.end(), [](const Hit& a, const Hit& b) { return a.score > b.score; });
    if (all.size() > o.topK) all.resize(o.topK);
    return all;
}

void expectSameHits(const std::vector<Hit>& got, const std::vector<Hit>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].index, want[i].index) << "rank " << i;
        EXPECT_EQ(got[i].score, want[i].score) << "rank " << i;
    }
}

TEST(Search, EqualsTheExhaustiveSortForEverySizeThresholdModeAndThreadCount) {
    std::mt19937 rng(20261210);
    const size_t k = 5;
    for (size_t size : {size_t{0}, size_t{1}, k - 1, k, k + 1, size_t{300}}) {
        const auto gallery = makeGallery(rng, size, 6);
        TemplateSet set;
        for (const auto& t : gallery) ASSERT_TRUE(set.add(t.data(), t.size()));
        ASSERT_EQ(set.size(), size);
        std::vector<std::vector<uint8_t>> probes = makeGallery(rng, 3, 6);
        if (!gallery.empty()) probes.push_back(gallery.front());  // ties with its own copies
        for (const auto& probeBytes : probes) {
            Probe probe;
            ASSERT_EQ(Probe::prepare(probeBytes.data(), probeBytes.size(), probe), 0);
            for (MatchMode mode : {MatchMode::Full, MatchMode::Quick}) {
                for (int32_t threshold : {0, 1, 40, 200, 100000}) {
                    for (size_t topK : {size_t{0}, size_t{1}, k, size_t{1000}}) {
                        const SearchOptions base{topK, threshold, mode, 1};
                        const auto want = exhaustive(probeBytes, gallery, base);
                        for (unsigned threads : {1u, 2u, 7u}) {
                            SearchOptions o = base;
                            o.threads = threads;
                            SCOPED_TRACE(testing::Message() << "size " << size << " mode " << int(mode)
                                                            << " threshold " << threshold << " K " << topK
                                                            << " threads " << threads);
                            expectSameHits(search::search(set, probe, o), want);
                        }
                    }
                }
            }
        }
    }
}

TEST(Search, ScoreAndMatchTemplateEqualVerifyMatch) {
    std::mt19937 rng(7);
    const auto gallery = makeGallery(rng, 40, 4);
    TemplateSet set;
    for (const auto& t : gallery) ASSERT_TRUE(set.add(t.data(), t.size()));
    Probe probe;
    ASSERT_EQ(Probe::prepare(gallery[3].data(), gallery[3].size(), probe), 0);
    for (size_t i = 0; i < gallery.size(); ++i) {
        for (MatchMode mode : {MatchMode::Full, MatchMode::Quick}) {
            int32_t want = -1;
            ASSERT_EQ(VerifyMatch(gallery[3].data(), gallery[i].data(), &want, mode == MatchMode::Quick), 0);
            EXPECT_EQ(set.score(probe, i, mode), want);
            int32_t got = -1;
            EXPECT_EQ(search::matchTemplate(probe, gallery[i].data(), gallery[i].size(), mode, &got), 0);
            EXPECT_EQ(got, want);
        }
    }
}

TEST(Search, DamagedEntriesAreRefusedWithTheirIndexAndProbesLikeVerifyMatch) {
    std::mt19937 rng(11);
    const auto good = makeGallery(rng, 1, 1).front();
    auto wrongCheck = good;
    ASSERT_GE(good.size(), 4u);
    wrongCheck.at(good.size() - 1) ^= 1;
    auto overCount = good;
    overCount[2] = 61;  // count byte
    auto shortLength = good;
    shortLength.pop_back();
    TemplateSet set;
    ASSERT_TRUE(set.add(good.data(), good.size()));
    struct Case {
        const char* name;
        const uint8_t* bytes;
        size_t length;
    } cases[] = {
        {"null", nullptr, 10},
        {"wrong check byte", wrongCheck.data(), wrongCheck.size()},
        {"count over 60", overCount.data(), overCount.size()},
        {"length disagrees", shortLength.data(), shortLength.size()},
        {"too short", good.data(), 3},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(set.add(c.bytes, c.length, &error)) << c.name;
        EXPECT_NE(error.find("entry 1"), std::string::npos) << c.name << ": " << error;
        Probe probe;
        EXPECT_EQ(Probe::prepare(c.bytes, c.length, probe), ORVANE_E_BAD_TEMPLATE) << c.name;
        EXPECT_FALSE(probe.valid());
    }
    EXPECT_EQ(set.size(), 1u);
}

}  // namespace
}  // namespace orvane
