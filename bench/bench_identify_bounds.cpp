// The search's first stage alone: the anchor pair bounds of a non-mated probe
// (the first impression of the last real finger, else a synthetic print)
// against 20 000 synthetic gallery entries, the stage that settles almost
// every entry of an identification. "distinct" walks the entries as a search
// does; "repeated" bounds one entry again and again (all look-ups cached),
// which shows what the memory traffic costs; "portable" walks them with the
// form used where the processor lacks AVX-512 (every row exact). The others
// ask what a non-mated search asks (8 pairs), so most rows are settled by
// their listed bounds, except "all exact". items_per_second is entries.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "formats/feature_template.h"
#include "interface/extraction.h"
#include "match/match_internal.h"
#include "search/anchor_bounds.h"
#include "support/real_print_files.h"
#include "support/synthetic_gallery.h"
#include "workspace/workspace.h"

namespace {

using namespace orvane;
using namespace orvane::match_internal;

struct Fixture {
    PreparedProbe probe;
    search::AnchorBounds bounds;
    std::vector<std::vector<CompactMinutia>> entries;
};

MinutiaSet unpacked(const std::vector<uint8_t>& featureTemplate) {
    MinutiaSet set;
    unpackTemplate(featureTemplate.data(), &set);
    return set;
}

std::vector<uint8_t> nonMatedProbe() {
    const char* env = std::getenv("ORVANE_DATA_DIR");
    const auto files = test::realPrintFiles(env ? env : ORVANE_DATA_DIR);
    if (files.empty()) return synthetic::syntheticGallery(1, 4711).front().featureTemplate;
    auto fingerOf = [](const std::filesystem::path& f) {
        const std::string stem = f.stem().string();
        return f.parent_path().string() + "/" + stem.substr(0, stem.find('_'));
    };
    const std::string last = fingerOf(files.back());
    for (const auto& f : files) {
        if (fingerOf(f) != last) continue;
        std::unique_ptr<Workspace> ws(new Workspace());
        std::vector<uint8_t> t(kMaxTemplateBytes);
        int32_t length = 0;
        if (extractTemplateFromFile(*ws, f.string().c_str(), t.data(), &length, nullptr) != 0) break;
        t.resize(static_cast<size_t>(length));
        return t;
    }
    return synthetic::syntheticGallery(1, 4711).front().featureTemplate;
}

const Fixture& fixture() {
    static const std::unique_ptr<Fixture> f = [] {
        auto out = std::make_unique<Fixture>();
        prepareProbe(unpacked(nonMatedProbe()), out->probe);
        out->bounds.prepare(out->probe);
        for (const auto& e : synthetic::syntheticGallery(20000, 90210)) {
            const MinutiaSet set = unpacked(e.featureTemplate);
            std::vector<CompactMinutia> records;
            for (int32_t i = 0; i < set.count; ++i) records.push_back(compactMinutia(set.minutiae[i]));
            out->entries.push_back(std::move(records));
        }
        return out;
    }();
    return *f;
}

void BM_AnchorBounds(benchmark::State& state) {
    const Fixture& f = fixture();
    const bool repeated = state.range(0) == 1;
    const search::BoundsForm form = state.range(0) == 2 ? search::BoundsForm::Portable : search::BoundsForm::Fastest;
    // As a non-mated search asks (a reported score needs 8 pairs), or every
    // row exact (as the portable form runs where it is the fastest).
    const int32_t needed = state.range(0) >= 2 ? 0 : kReportedPairs;
    std::vector<uint8_t> rows(kMaxMinutiae * kAnchorBoundRow);
    size_t at = 0, reaching = 0, lookUps = 0;
    for (auto _ : state) {
        const auto& e = f.entries[repeated ? 7 : at];
        const int32_t most = f.bounds.anchorBounds(e.data(), static_cast<int32_t>(e.size()), rows.data(), needed, form);
        reaching += most >= kReportedPairs;
        lookUps += e.size() * e.size();
        benchmark::DoNotOptimize(most);
        if (++at == f.entries.size()) at = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["reachShare"] = static_cast<double>(reaching) / static_cast<double>(state.iterations());
    state.counters["lookUpsPerEntry"] = static_cast<double>(lookUps) / static_cast<double>(state.iterations());
    state.counters["tableBytes"] = static_cast<double>(f.bounds.memoryBytes());
    const char* label = state.range(0) == 2 ? "portable" : needed == 0 ? "distinct, all exact" : "distinct";
    state.SetLabel(repeated ? "repeated" : label);
}
BENCHMARK(BM_AnchorBounds)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

// Building the probe's zone tables (once per search).
void BM_PrepareBounds(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) {
        search::AnchorBounds bounds;
        bounds.prepare(f.probe);
        benchmark::DoNotOptimize(bounds.memoryBytes());
    }
}
BENCHMARK(BM_PrepareBounds)->Unit(benchmark::kMillisecond);

}  // namespace
