// Work that hosts run on many threads at once gives the same results as on
// one thread. Built and run under ThreadSanitizer by scripts/test, which
// reports any data race between the threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "interface/extraction.h"
#include "orvane.h"
#include "search/search.h"
#include "support/synthetic_gallery.h"
#include "support/test_support.h"

namespace orvane {
namespace {

constexpr int kThreads = 4;

// Runs body(t) on kThreads threads at once and waits for all of them.
template <class Body>
void onThreads(Body body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(body, t);
    for (std::thread& thread : threads) thread.join();
}

struct Grey {
    int32_t width, height;
    std::vector<uint8_t> pixels;
};

// Print-like rings of ridges, broken along two rays; different for each seed.
Grey ringPrint(uint32_t seed) {
    Grey g{256, 360, std::vector<uint8_t>(256 * 360, 230)};
    const double period = 0.62 + 0.03 * (seed % 5), cx = 118.0 + seed % 20, cy = 170.0 + seed % 30;
    for (int32_t y = 0; y < g.height; ++y) {
        for (int32_t x = 0; x < g.width; ++x) {
            const double dx = x - cx, dy = (y - cy) * 0.8;
            const double r = std::sqrt(dx * dx + dy * dy);
            const double wobble = 3.0 * std::sin(0.05 * (x + 2.0 * y) + seed);
            // Ridges shift by half a period across two rays: endings and forks.
            const double shift = (dx > 0) == (dy > 0) ? 3.14159 : 0.0;
            if (r < 105) {
                g.pixels[y * g.width + x] = static_cast<uint8_t>(128 + 100 * std::sin((r + wobble) * period + shift));
            }
        }
    }
    return g;
}

std::vector<Grey> someImages() {
    std::vector<Grey> images;
    for (const std::string& path : test::realPrints()) {
        if (images.size() == 3) break;
        Grey g{0, 0, {}};
        if (LoadFinger(path.c_str(), nullptr, &g.width, &g.height) != ORVANE_OK) continue;
        g.pixels.resize(static_cast<size_t>(g.width) * g.height);
        if (LoadFinger(path.c_str(), g.pixels.data(), &g.width, &g.height) == ORVANE_OK) images.push_back(g);
    }
    for (uint32_t seed = 1; images.size() < 5; ++seed) images.push_back(ringPrint(seed));
    return images;
}

struct Extraction {
    int32_t code = -1;
    std::vector<uint8_t> featureTemplate;
    bool operator==(const Extraction& o) const { return code == o.code && featureTemplate == o.featureTemplate; }
};

Extraction extract(Workspace& ws, const Grey& g) {
    Extraction e;
    e.featureTemplate.assign(ORVANE_MAX_TEMPLATE_BYTES, 0);
    int32_t length = 0;
    e.code = extractTemplate(ws, g.pixels.data(), g.width, g.height, e.featureTemplate.data(), &length, nullptr);
    return e;
}

TEST(Concurrency, ExtractionOnManyThreadsWithAWorkspaceEach) {
    const std::vector<Grey> images = someImages();
    std::vector<Extraction> expected;
    {
        auto ws = test::makeWorkspace();
        for (const Grey& g : images) expected.push_back(extract(*ws, g));
    }
    ASSERT_EQ(std::count_if(expected.begin(), expected.end(), [](const Extraction& e) { return e.code == 0; }),
              static_cast<std::ptrdiff_t>(images.size()));
    std::vector<std::vector<Extraction>> got(kThreads);
    onThreads([&](int t) {
        auto ws = test::makeWorkspace();
        // Each thread takes the images in another order.
        for (size_t i = 0; i < images.size(); ++i) {
            const size_t k = (i + static_cast<size_t>(t)) % images.size();
            got[t].resize(images.size());
            got[t][k] = extract(*ws, images[k]);
        }
    });
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(got[t], expected) << "thread " << t;
}

std::vector<std::vector<uint8_t>> someTemplates(size_t count) {
    std::vector<std::vector<uint8_t>> templates;
    for (const synthetic::GalleryEntry& e : synthetic::syntheticGallery(count, 11)) {
        std::vector<uint8_t> t = e.featureTemplate;
        t.resize(ORVANE_MAX_TEMPLATE_BYTES, 0);
        templates.push_back(t);
    }
    return templates;
}

TEST(Concurrency, VerifyMatchFromManyThreads) {
    const std::vector<std::vector<uint8_t>> templates = someTemplates(12);
    const size_t n = templates.size();
    auto allScores = [&](size_t first) {
        std::vector<int32_t> scores(2 * n * n, -1);
        for (size_t step = 0; step < n * n; ++step) {
            const size_t pair = (first + step) % (n * n);
            for (int32_t flag : {0, 1}) {
                VerifyMatch(templates[pair / n].data(), templates[pair % n].data(), &scores[2 * pair + flag], flag);
            }
        }
        return scores;
    };
    const std::vector<int32_t> expected = allScores(0);
    std::vector<std::vector<int32_t>> got(kThreads);
    onThreads([&](int t) { got[t] = allScores(static_cast<size_t>(t) * 17); });
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(got[t], expected) << "thread " << t;
}

TEST(Concurrency, SearchWithSeveralThreadsFromSeveralThreads) {
    const std::vector<synthetic::GalleryEntry> gallery = synthetic::syntheticGallery(96, 5);
    search::TemplateSet set;
    for (const synthetic::GalleryEntry& e : gallery) {
        ASSERT_TRUE(set.add(e.featureTemplate.data(), e.featureTemplate.size()));
    }
    std::vector<search::Probe> probes(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        const std::vector<uint8_t>& probe = gallery[static_cast<size_t>(t) * 9 + 1].featureTemplate;
        ASSERT_EQ(search::Probe::prepare(probe.data(), probe.size(), probes[t]), 0);
    }
    auto hitsOf = [&](const search::Probe& probe, unsigned threads, search::MatchMode mode) {
        search::SearchOptions options;
        options.topK = 8;
        options.threads = threads;
        options.mode = mode;
        std::vector<std::pair<size_t, int32_t>> out;
        for (const search::Hit& h : search::search(set, probe, options)) out.emplace_back(h.index, h.score);
        return out;
    };
    for (search::MatchMode mode : {search::MatchMode::Full, search::MatchMode::Quick}) {
        std::vector<std::vector<std::pair<size_t, int32_t>>> expected, got(kThreads);
        for (const search::Probe& p : probes) expected.push_back(hitsOf(p, 1, mode));
        // Every caller searches the same set, each with workers of its own.
        onThreads([&](int t) { got[t] = hitsOf(probes[t], 3, mode); });
        for (int t = 0; t < kThreads; ++t) {
            EXPECT_EQ(got[t], expected[t]) << "thread " << t;
            ASSERT_FALSE(expected[t].empty());
        }
    }
}

}  // namespace
}  // namespace orvane
