// VerifyMatch speed on synthetic prints of realistic size: two impressions of
// one finger (genuine) and prints of two fingers (impostor), in the full and
// the quick search. items_per_second is comparisons per second on one core.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/feature_template.h"
#include "interface/extraction.h"
#include "orvane.h"
#include "workspace/workspace.h"
#include "support/synthetic_sets.h"
#include "support/real_print_files.h"

namespace {

using namespace orvane;

struct TemplatePair {
    std::vector<uint8_t> probe, reference;
};

std::vector<uint8_t> pack(const MinutiaSet& s) {
    std::vector<uint8_t> t(kMaxTemplateBytes);
    t.resize(static_cast<size_t>(packTemplate(&s, t.data())));
    return t;
}

// 16 pairs per case so that one lucky pair does not decide the figure.
std::vector<TemplatePair> makePairs(int32_t minutiae, bool genuine) {
    std::mt19937 rng(static_cast<uint32_t>(1000 + minutiae + (genuine ? 1 : 0)));
    std::vector<TemplatePair> pairs;
    while (pairs.size() < 16) {
        const synthetic::Finger f = synthetic::makeFinger(rng, minutiae + minutiae / 20);
        const MinutiaSet a = synthetic::impress(rng, f, synthetic::randomImpression(rng));
        MinutiaSet b;
        if (genuine) {
            b = synthetic::impress(rng, f, synthetic::randomImpression(rng));
        } else {
            const synthetic::Finger g = synthetic::makeFinger(rng, minutiae + minutiae / 20);
            b = synthetic::impress(rng, g, synthetic::randomImpression(rng));
        }
        pairs.push_back({pack(a), pack(b)});
    }
    return pairs;
}

void BM_VerifyMatch(benchmark::State& state) {
    const int32_t minutiae = static_cast<int32_t>(state.range(0));
    const bool genuine = state.range(1) != 0;
    const int32_t flag = state.range(2) != 0 ? 1 : 0;
    const std::vector<TemplatePair> pairs = makePairs(minutiae, genuine);
    size_t k = 0;
    int64_t scoreSum = 0;
    for (auto _ : state) {
        const TemplatePair& p = pairs[k++ % pairs.size()];
        int32_t score = 0;
        benchmark::DoNotOptimize(VerifyMatch(p.probe.data(), p.reference.data(), &score, flag));
        scoreSum += score;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::string(genuine ? "genuine" : "impostor") + (flag ? " quick" : " full"));
    state.counters["meanScore"] = static_cast<double>(scoreSum) / static_cast<double>(state.iterations());
}

// Args: minutiae per print, genuine (1) or impostor (0), quick search (1) or full (0).
BENCHMARK(BM_VerifyMatch)->ArgsProduct({{30, 40, 60}, {1, 0}, {0, 1}});

// Templates extracted from real prints (when the data folder is present):
// every impression of the first fingers of each database, compared within a
// finger (genuine) and across fingers (impostor).
namespace real {

struct Print {
    std::string finger;
    std::vector<uint8_t> featureTemplate;
};

const std::vector<Print>& prints() {
    static const std::vector<Print> all = [] {
        std::vector<Print> out;
        namespace fs = std::filesystem;
        const std::vector<fs::path> files = orvane::test::realPrintFiles(ORVANE_DATA_DIR);
        if (files.empty()) return out;
        std::unique_ptr<Workspace> ws(new Workspace());
        for (const fs::path& f : files) {
            // Names are <finger>_<impression>.bmp; fingers 101..104 of each folder.
            const std::string stem = f.stem().string();
            const std::string finger = stem.substr(0, stem.find('_'));
            if (finger < "101" || finger > "104") continue;
            std::vector<uint8_t> t(kMaxTemplateBytes);
            int32_t length = 0;
            if (extractTemplateFromFile(*ws, f.string().c_str(), t.data(), &length, nullptr) != 0) continue;
            t.resize(static_cast<size_t>(length));
            out.push_back({f.parent_path().filename().string() + "/" + finger, std::move(t)});
        }
        return out;
    }();
    return all;
}

void BM_VerifyMatchRealPrints(benchmark::State& state) {
    const bool genuine = state.range(0) != 0;
    const int32_t flag = state.range(1) != 0 ? 1 : 0;
    const std::vector<Print>& all = prints();
    std::vector<std::pair<const Print*, const Print*>> pairs;
    for (size_t a = 0; a < all.size(); ++a) {
        for (size_t b = a + 1; b < all.size(); ++b) {
            if ((all[a].finger == all[b].finger) == genuine) pairs.push_back({&all[a], &all[b]});
        }
    }
    if (pairs.empty()) {
        state.SkipWithError("no real prints");
        return;
    }
    double minutiae = 0;
    for (const Print& p : all) minutiae += p.featureTemplate[2];
    size_t k = 0;
    for (auto _ : state) {
        const auto& p = pairs[k++ % pairs.size()];
        int32_t score = 0;
        benchmark::DoNotOptimize(
            VerifyMatch(p.first->featureTemplate.data(), p.second->featureTemplate.data(), &score, flag));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::string(genuine ? "genuine" : "impostor") + (flag ? " quick" : " full"));
    state.counters["pairs"] = static_cast<double>(pairs.size());
    state.counters["meanMinutiae"] = minutiae / static_cast<double>(all.size());
}

// Args: genuine (1) or impostor (0), quick search (1) or full (0).
BENCHMARK(BM_VerifyMatchRealPrints)->ArgsProduct({{1, 0}, {0, 1}});

// The same comparisons, every pair once per iteration: the work of an
// iteration is fixed, so instruction counts (callgrind) compare across builds.
void BM_VerifyMatchRealPrintsAllPairs(benchmark::State& state) {
    const bool genuine = state.range(0) != 0;
    const int32_t flag = state.range(1) != 0 ? 1 : 0;
    const std::vector<Print>& all = prints();
    std::vector<std::pair<const Print*, const Print*>> pairs;
    for (size_t a = 0; a < all.size(); ++a) {
        for (size_t b = a + 1; b < all.size(); ++b) {
            if ((all[a].finger == all[b].finger) == genuine) pairs.push_back({&all[a], &all[b]});
        }
    }
    if (pairs.empty()) {
        state.SkipWithError("no real prints");
        return;
    }
    for (auto _ : state) {
        for (const auto& p : pairs) {
            int32_t score = 0;
            benchmark::DoNotOptimize(
                VerifyMatch(p.first->featureTemplate.data(), p.second->featureTemplate.data(), &score, flag));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pairs.size()));
    state.SetLabel(std::string(genuine ? "genuine" : "impostor") + (flag ? " quick" : " full"));
}

BENCHMARK(BM_VerifyMatchRealPrintsAllPairs)->ArgsProduct({{1, 0}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace real

}  // namespace
