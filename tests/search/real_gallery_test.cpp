// Every ordered pair of the real prints (skipped without the data folder):
// the engine's scores equal VerifyMatch, VerifyMatch equals the plain
// transcription on a spread sample, and top-K searches with thresholds (where
// most entries are skipped) equal the exhaustive sort. Sanitizer builds take
// every 16th probe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "formats/feature_template.h"
#include "interface/extraction.h"
#include "match/reference_matcher.h"
#include "orvane.h"
#include "search/search.h"
#include "support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_SANITIZED 1
#endif
#endif

namespace orvane {
namespace {

#if defined(ORVANE_SANITIZED)
constexpr size_t kProbeStride = 16;
#else
constexpr size_t kProbeStride = 1;
#endif

std::vector<std::vector<uint8_t>> realTemplates() {
    std::vector<std::vector<uint8_t>> out;
    std::unique_ptr<Workspace> ws = test::makeWorkspace();
    for (const std::string& path : test::realPrints()) {
        std::vector<uint8_t> t(kMaxTemplateBytes);
        int32_t length = 0;
        if (extractTemplateFromFile(*ws, path.c_str(), t.data(), &length, nullptr) != 0) continue;
        t.resize(static_cast<size_t>(length));
        out.push_back(std::move(t));
    }
    return out;
}

TEST(RealGallery, EveryOrderedPairScoresLikeVerifyMatchAndTheTranscription) {
    const auto templates = realTemplates();
    if (templates.size() < 2) GTEST_SKIP() << "no real prints";
    search::TemplateSet set;
    for (const auto& t : templates) ASSERT_TRUE(set.add(t.data(), t.size()));
    size_t pairs = 0, transcribed = 0;
    for (size_t a = 0; a < templates.size(); a += kProbeStride) {
        search::Probe probe;
        ASSERT_EQ(search::Probe::prepare(templates[a].data(), templates[a].size(), probe), 0);
        for (search::MatchMode mode : {search::MatchMode::Full, search::MatchMode::Quick}) {
            const int32_t flag = mode == search::MatchMode::Quick ? 1 : 0;
            // Every entry's exact score: K covers the whole set, no threshold.
            search::SearchOptions all{templates.size(), 0, mode, 2};
            const auto hits = search::search(set, probe, all);
            ASSERT_EQ(hits.size(), templates.size());
            // VerifyMatch on the same pairs, on two threads.
            std::vector<int32_t> want(templates.size(), -1);
            auto verify = [&](size_t first) {
                for (size_t b = first; b < templates.size(); b += 2) {
                    if (VerifyMatch(templates[a].data(), templates[b].data(), &want[b], flag) != 0) want[b] = -2;
                }
            };
            std::thread other(verify, 1);
            verify(0);
            other.join();
            for (const search::Hit& h : hits) ASSERT_EQ(h.score, want[h.index]) << a << " -> " << h.index;
            pairs += templates.size() - 1;

            // The transcription on a spread sample of the same pairs.
            for (size_t b = (a * 7) % 211; b < templates.size(); b += 211) {
                MinutiaSet p, r;
                ASSERT_EQ(unpackTemplate(templates[a].data(), &p), 0);
                ASSERT_EQ(unpackTemplate(templates[b].data(), &r), 0);
                MatchResult plain;
                reference::match(p, r, plain, mode == search::MatchMode::Quick ? kQuickSearch : kFullSearch);
                ASSERT_EQ(want[b], plain.matchedCount < 8 ? 0 : plain.score) << a << " -> " << b;
                ++transcribed;
            }

            // Top-K with thresholds (most entries provably out and skipped),
            // for every eighth probe.
            if (a % (8 * kProbeStride) != 0) continue;
            for (int32_t threshold : {0, 30, 120}) {
                for (size_t k : {size_t{1}, size_t{10}}) {
                    std::vector<search::Hit> sorted;
                    for (size_t b = 0; b < want.size(); ++b) {
                        if (want[b] >= threshold) sorted.push_back({b, want[b]});
                    }
                    std::stable_sort(sorted.begin(), sorted.end(),
                                     [](const search::Hit& x, const search::Hit& y) { return x.score > y.score; });
                    if (sorted.size() > k) sorted.resize(k);
                    const auto got = search::search(set, probe, search::SearchOptions{k, threshold, mode, 2});
                    ASSERT_EQ(got.size(), sorted.size());
                    for (size_t i = 0; i < got.size(); ++i) {
                        ASSERT_EQ(got[i].index, sorted[i].index) << a << " rank " << i;
                        ASSERT_EQ(got[i].score, sorted[i].score) << a << " rank " << i;
                    }
                }
                // The row-at-a-time variant: exact at or above the threshold.
                for (size_t b = a % 11; b < templates.size(); b += 11) {
                    int32_t got = 0;
                    ASSERT_EQ(search::matchTemplateAtLeast(probe, templates[b].data(), templates[b].size(), mode,
                                                           threshold, &got),
                              0);
                    ASSERT_EQ(got, want[b] >= threshold ? want[b] : search::kBelowThreshold) << a << " -> " << b;
                }
            }
        }
    }
    std::printf("%zu prints, %zu ordered pairs per mode, %zu against the transcription\n", templates.size(),
                pairs / 2, transcribed);
}

}  // namespace
}  // namespace orvane
