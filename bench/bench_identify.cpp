// 1:N identification speed: galleries of 10 000 and 100 000 templates (every
// real print's template where the data folder is present, the rest synthetic
// impressions from tests/support/synthetic_gallery.h), a mated probe (another
// impression of a real finger in the gallery) and a non-mated one (a real
// finger kept out of it), top K = 1 and 10, on 1 and 2 threads.
// items_per_second is gallery entries searched per second of wall time; the
// CPU column is the process's CPU time per search (all threads), the steadier
// figure on a shared machine. The counters give
// the time to build the gallery, its memory per template and the share of
// entries that needed an exact score.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "formats/feature_template.h"
#include "interface/extraction.h"
#include "search/search.h"
#include "support/real_print_files.h"
#include "support/synthetic_gallery.h"
#include "workspace/workspace.h"

namespace {

using namespace orvane;

struct RealPrint {
    std::string finger;  // folder/finger
    std::string impression;
    std::vector<uint8_t> featureTemplate;
};

const std::vector<RealPrint>& realPrints() {
    static const std::vector<RealPrint> all = [] {
        std::vector<RealPrint> out;
        namespace fs = std::filesystem;
        const char* env = std::getenv("ORVANE_DATA_DIR");
        const std::vector<fs::path> files = test::realPrintFiles(env ? env : ORVANE_DATA_DIR);
        if (files.empty()) return out;
        std::unique_ptr<Workspace> ws(new Workspace());
        for (const fs::path& f : files) {
            const std::string stem = f.stem().string();
            std::vector<uint8_t> t(kMaxTemplateBytes);
            int32_t length = 0;
            if (extractTemplateFromFile(*ws, f.string().c_str(), t.data(), &length, nullptr) != 0) continue;
            t.resize(static_cast<size_t>(length));
            out.push_back({f.parent_path().filename().string() + "/" + stem.substr(0, stem.find('_')),
                           stem.substr(stem.find('_') + 1), std::move(t)});
        }
        return out;
    }();
    return all;
}

struct Gallery {
    search::TemplateSet set;
    double buildSeconds = 0;
    std::vector<uint8_t> matedProbe, nonMatedProbe;
};

// The real prints go in first, except the first impression of each finger
// (the mated probe is one of those) and every impression of the last finger
// (the non-mated probe); synthetic templates fill the rest.
const Gallery& gallery(size_t size) {
    static std::map<size_t, std::unique_ptr<Gallery>> cache;
    auto& slot = cache[size];
    if (slot) return *slot;
    slot = std::make_unique<Gallery>();
    Gallery& g = *slot;
    const std::vector<RealPrint>& real = realPrints();
    std::vector<std::vector<uint8_t>> templates;
    const std::string kept = real.empty() ? "" : real.back().finger;
    for (const RealPrint& p : real) {
        if (p.finger == kept) {
            if (g.nonMatedProbe.empty()) g.nonMatedProbe = p.featureTemplate;
        } else if (p.impression == "1") {
            if (g.matedProbe.empty()) g.matedProbe = p.featureTemplate;
        } else if (templates.size() < size) {
            templates.push_back(p.featureTemplate);
        }
    }
    const auto synthetic = synthetic::syntheticGallery(size - templates.size() + 8, 90210);
    for (size_t i = 0; templates.size() < size; ++i) templates.push_back(synthetic[i].featureTemplate);
    if (g.matedProbe.empty()) g.matedProbe = synthetic[size - templates.size() + 1].featureTemplate;  // unused path
    if (g.nonMatedProbe.empty()) g.nonMatedProbe = synthetic.back().featureTemplate;

    const auto start = std::chrono::steady_clock::now();
    g.set.reserve(size);
    for (const auto& t : templates) g.set.add(t.data(), t.size());
    g.buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return g;
}

void BM_Identify(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const bool mated = state.range(1) != 0;
    const Gallery& g = gallery(size);
    if (realPrints().empty()) state.SetLabel("no real prints: synthetic probes");
    const std::vector<uint8_t>& probeBytes = mated ? g.matedProbe : g.nonMatedProbe;
    search::Probe probe;
    if (search::Probe::prepare(probeBytes.data(), probeBytes.size(), probe) != 0) {
        state.SkipWithError("probe");
        return;
    }
    search::SearchOptions options;
    options.topK = static_cast<size_t>(state.range(2));
    options.threads = static_cast<unsigned>(state.range(3));
    options.mode = state.range(4) ? search::MatchMode::Quick : search::MatchMode::Full;
    search::SearchStats stats;
    int32_t top = 0;
    for (auto _ : state) {
        const auto hits = search::search(g.set, probe, options, &stats);
        top = hits.empty() ? 0 : hits.front().score;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(size));
    state.counters["buildSeconds"] = g.buildSeconds;
    state.counters["bytesPerTemplate"] = static_cast<double>(g.set.memoryBytes()) / static_cast<double>(size);
    state.counters["scoredShare"] = static_cast<double>(stats.scored) / static_cast<double>(size);
    state.counters["topScore"] = top;
    state.SetLabel(std::string(mated ? "mated" : "non-mated") + (state.range(4) ? " quick" : " full"));
}

// Args: gallery size, mated probe, K, threads, quick search.
BENCHMARK(BM_Identify)
    ->ArgsProduct({{10000, 100000}, {1, 0}, {1, 10}, {1, 2}, {0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()  // CPU time of all the search's threads
    ->MinTime(0.5);

// The probe's preparation (once per search).
void BM_PrepareProbe(benchmark::State& state) {
    const Gallery& g = gallery(10000);
    for (auto _ : state) {
        search::Probe probe;
        benchmark::DoNotOptimize(search::Probe::prepare(g.nonMatedProbe.data(), g.nonMatedProbe.size(), probe));
    }
}
BENCHMARK(BM_PrepareProbe)->Unit(benchmark::kMicrosecond);

}  // namespace
