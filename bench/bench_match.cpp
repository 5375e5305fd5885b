// VerifyMatch speed on synthetic prints of realistic size: two impressions of
// one finger (genuine) and prints of two fingers (impostor), in the full and
// the quick search. items_per_second is comparisons per second on one core.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "formats/feature_template.h"
#include "orvane.h"
#include "tests/match/synthetic_sets.h"

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

}  // namespace
