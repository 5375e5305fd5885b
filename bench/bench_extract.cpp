// Extraction speed: each stage of the pipeline on its own, and whole
// extractions per database folder of real prints (observer null).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "interface/extraction.h"
#include "interface/stages.h"
#include "workspace/workspace.h"

namespace fs = std::filesystem;
using namespace orvane;

namespace {

struct Print {
    std::vector<uint8_t> pixels;
    int32_t width = 0, height = 0;
};

// Prints of one folder, or of all folders for "".
std::vector<Print> loadPrints(const std::string& folder) {
    std::vector<std::string> paths;
    std::error_code ec;
    const char* env = std::getenv("ORVANE_DATA_DIR");
    const std::string root = env && *env ? env : ORVANE_DATA_DIR;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().extension() != ".bmp") continue;
        if (!folder.empty() && it->path().parent_path().filename() != folder) continue;
        paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Print> prints;
    for (const auto& path : paths) {
        Print p;
        if (readBitmap(path.c_str(), nullptr, &p.width, &p.height) != 0) continue;
        if (p.width > kMaxWidth || p.height > kMaxHeight) continue;
        p.pixels.resize(static_cast<size_t>(p.width) * static_cast<size_t>(p.height));
        if (readBitmap(path.c_str(), p.pixels.data(), &p.width, &p.height) != 0) continue;
        prints.push_back(std::move(p));
    }
    return prints;
}

const std::vector<Print>& printsOf(const std::string& folder) {
    static std::map<std::string, std::vector<Print>> cache;
    auto it = cache.find(folder);
    if (it == cache.end()) it = cache.emplace(folder, loadPrints(folder)).first;
    return it->second;
}

// A stage's benchmark restores the workspace as it was before that stage
// for every print, off the clock.
bool runStageAt(Workspace& ws, int index) { return runStage(ws, kExtractionStages[index]) == kStageCompleted; }

void BM_Stage(benchmark::State& state) {
    const int stage = static_cast<int>(state.range(0));
    const auto& prints = printsOf("fvc2004_db1_b");
    if (prints.empty()) {
        state.SkipWithError("no prints");
        return;
    }
    // Workspaces holding the state just before the stage, one per print.
    std::vector<std::unique_ptr<Workspace>> before;
    for (const auto& p : prints) {
        auto ws = std::make_unique<Workspace>();
        setWorkspaceImage(*ws, p.pixels.data(), p.width, p.height);
        bool ok = true;
        for (int s = 0; s < stage && ok; ++s) ok = runStageAt(*ws, s);
        if (ok) before.push_back(std::move(ws));
    }
    auto ws = std::make_unique<Workspace>();
    size_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(ws.get(), before[i].get(), sizeof(Workspace));
        i = (i + 1) % before.size();
        state.ResumeTiming();
        runStageAt(*ws, stage);
        benchmark::ClobberMemory();
    }
    state.SetLabel(stageName(kExtractionStages[stage]));
}
BENCHMARK(BM_Stage)->DenseRange(0, kStageCount - 1)->Unit(benchmark::kMicrosecond);

// Whole extractions of the 640 x 480 prints, timed stage by stage: the
// counters give each stage's share of the time in per cent.
void BM_StageShares(benchmark::State& state) {
    const auto& prints = printsOf("fvc2004_db1_b");
    if (prints.empty()) {
        state.SkipWithError("no prints");
        return;
    }
    auto ws = std::make_unique<Workspace>();
    double seconds[kStageCount] = {};
    size_t i = 0;
    for (auto _ : state) {
        const Print& p = prints[i];
        i = (i + 1) % prints.size();
        setWorkspaceImage(*ws, p.pixels.data(), p.width, p.height);
        for (int s = 0; s < kStageCount; ++s) {
            const auto t0 = std::chrono::steady_clock::now();
            const bool ok = runStageAt(*ws, s);
            seconds[s] += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (!ok) break;
        }
    }
    double total = 0;
    for (double s : seconds) total += s;
    for (int s = 0; s < kStageCount; ++s)
        state.counters[stageName(kExtractionStages[s])] = total > 0 ? 100.0 * seconds[s] / total : 0.0;
}
BENCHMARK(BM_StageShares)->Unit(benchmark::kMillisecond);

void BM_Extract(benchmark::State& state, const std::string& folder) {
    const auto& prints = printsOf(folder);
    if (prints.empty()) {
        state.SkipWithError("no prints");
        return;
    }
    auto ws = std::make_unique<Workspace>();
    uint8_t featureTemplate[kMaxTemplateBytes];
    int32_t length = 0;
    size_t i = 0;
    for (auto _ : state) {
        const Print& p = prints[i];
        i = (i + 1) % prints.size();
        benchmark::DoNotOptimize(
            extractTemplate(*ws, p.pixels.data(), p.width, p.height, featureTemplate, &length, nullptr));
    }
}
BENCHMARK_CAPTURE(BM_Extract, fvc2000_db2_b, std::string("fvc2000_db2_b"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Extract, fvc2002_db1_b, std::string("fvc2002_db1_b"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Extract, fvc2004_db1_b, std::string("fvc2004_db1_b"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Extract, fvc2004_db3_b, std::string("fvc2004_db3_b"))->Unit(benchmark::kMillisecond);

}  // namespace
