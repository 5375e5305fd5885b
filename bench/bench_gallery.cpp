// The gallery store: enrolment throughput on real prints (extraction on two
// threads, then one transaction per batch), and a 100 000-entry gallery of
// synthetic templates: the time to open it and load it into the search, and
// identification on it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "formats/bitmap.h"
#include "gallery/gallery.h"
#include "interface/extraction.h"
#include "support/synthetic_gallery.h"
#include "workspace/workspace.h"

namespace fs = std::filesystem;
using namespace orvane;
using Clock = std::chrono::steady_clock;

namespace {

std::string dataRoot() {
    const char* env = std::getenv("ORVANE_DATA_DIR");
    return env && *env ? env : ORVANE_DATA_DIR;
}

std::vector<std::string> realPrintFiles() {
    std::vector<std::string> paths;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dataRoot(), ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->path().extension() == ".bmp") paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::string scratchPath(const std::string& name) {
    return (fs::temp_directory_path() / ("orvane-bench-" + std::to_string(::getpid()) + "-" + name)).string();
}

void removeGallery(const std::string& path) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix, ec);
}

// What the enroll command does for one image file: read it, digest it,
// decode it, extract the template and measure the quality.
bool prepareImage(Workspace& ws, const std::string& path, gallery::NewPrint& out) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out.info.imageSha256 = gallery::sha256Hex(bytes.data(), bytes.size());
    std::vector<uint8_t> pixels(size_t(kMaxWidth) * kMaxHeight);
    int32_t width = 0, height = 0;
    if (readBitmapWithin(path.c_str(), pixels.data(), kMaxWidth, kMaxHeight, &width, &height) != 0) return false;
    uint8_t t[kMaxTemplateBytes];
    int32_t length = 0;
    if (extractTemplate(ws, pixels.data(), width, height, t, &length, nullptr) != 0) return false;
    out.featureTemplate.assign(t, t + length);
    if (measureQuality(ws, pixels.data(), width, height, &out.quality) != 0) out.quality = -1;
    out.info.subject = fs::path(path).stem().string();
    out.info.sourceName = path;
    return true;
}

// Real prints enrolled in batches: extraction on `threads` threads, then
// one transaction. Counters: images per second and the share of the time
// spent preparing images (reading, decoding, extracting).
void BM_EnrolRealPrints(benchmark::State& state) {
    const std::vector<std::string> files = realPrintFiles();
    if (files.empty()) {
        state.SkipWithError("no real prints (ORVANE_DATA_DIR)");
        return;
    }
    const unsigned threads = unsigned(state.range(0));
    const std::string path = scratchPath("enrol.db");
    removeGallery(path);
    gallery::Gallery g(path);
    gallery::EnrolOptions options;
    options.allowDuplicates = true;  // every iteration enrols the same images again
    std::vector<std::unique_ptr<Workspace>> workspaces;
    for (unsigned t = 0; t < threads; ++t) workspaces.push_back(std::make_unique<Workspace>());
    double prepareSeconds = 0, databaseSeconds = 0;
    size_t enrolled = 0;
    for (auto _ : state) {
        std::vector<gallery::NewPrint> prints(files.size());
        std::vector<char> ok(files.size(), 0);
        const auto start = Clock::now();
        std::atomic<size_t> next{0};
        std::vector<std::thread> pool;
        for (unsigned t = 0; t < threads; ++t) {
            pool.emplace_back([&, t] {
                for (size_t i; (i = next.fetch_add(1)) < files.size();) ok[i] = prepareImage(*workspaces[t], files[i], prints[i]);
            });
        }
        for (std::thread& th : pool) th.join();
        const auto prepared = Clock::now();
        std::vector<gallery::NewPrint> batch;
        for (size_t i = 0; i < files.size(); ++i) {
            if (ok[i]) batch.push_back(std::move(prints[i]));
        }
        for (const gallery::EnrolOutcome& o : g.enrol(batch, options)) enrolled += o.ok() ? 1 : 0;
        prepareSeconds += std::chrono::duration<double>(prepared - start).count();
        databaseSeconds += std::chrono::duration<double>(Clock::now() - prepared).count();
    }
    state.counters["images_per_s"] =
        benchmark::Counter(double(files.size()) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["extraction_share_pct"] = 100 * prepareSeconds / (prepareSeconds + databaseSeconds);
    state.counters["db_ms_per_batch"] = 1000 * databaseSeconds / double(state.iterations());
    state.counters["batch"] = double(files.size());
    state.counters["enrolled"] = double(enrolled);
    removeGallery(path);
}
BENCHMARK(BM_EnrolRealPrints)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

constexpr size_t kLargeGallery = 100000;
constexpr size_t kMatedProbe = 1;

// A gallery file of 100 000 synthetic templates, made once per run.
struct LargeGallery {
    std::string path = scratchPath("100k.db");
    std::vector<synthetic::GalleryEntry> entries;
    double buildSeconds = 0;

    LargeGallery() {
        removeGallery(path);
        entries = synthetic::syntheticGallery(kLargeGallery + 100, 2024);
        const auto start = Clock::now();
        gallery::Gallery g(path);
        std::vector<gallery::NewPrint> batch;
        // Entry 1 stays out: a mated probe (impression 2 of the first finger).
        for (size_t i = 0; i <= kLargeGallery; ++i) {
            if (i == kMatedProbe) continue;
            gallery::NewPrint p;
            p.info.subject = entries[i].subject;
            p.info.impression = entries[i].impression;
            p.featureTemplate = entries[i].featureTemplate;
            batch.push_back(std::move(p));
            if (batch.size() == 10000 || i == kLargeGallery) {
                g.enrol(batch);
                batch.clear();
            }
        }
        buildSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    ~LargeGallery() { removeGallery(path); }
};

LargeGallery& largeGallery() {
    static LargeGallery g;
    return g;
}

void BM_OpenAndLoad100k(benchmark::State& state) {
    LargeGallery& large = largeGallery();
    size_t loaded = 0;
    size_t memory = 0;
    for (auto _ : state) {
        gallery::Gallery g(large.path, gallery::OpenMode::ReadOnly);
        loaded = g.load();
        memory = g.templates().memoryBytes();
    }
    state.counters["entries"] = double(loaded);
    state.counters["search_MB"] = double(memory) / 1e6;
    state.counters["file_MB"] = double(fs::file_size(large.path)) / 1e6;
    state.counters["enrol_s_for_100k_templates"] = large.buildSeconds;
}
BENCHMARK(BM_OpenAndLoad100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Identification of one probe over the loaded 100k gallery; arguments:
// mated (1) or not (0), K, threads.
void BM_Identify100k(benchmark::State& state) {
    LargeGallery& large = largeGallery();
    static gallery::Gallery* g = nullptr;
    if (!g) {
        g = new gallery::Gallery(large.path, gallery::OpenMode::ReadOnly);
        g->load();
    }
    const bool mated = state.range(0) != 0;
    // Mated: an impression left out of an enrolled finger; non-mated: a
    // finger made after the gallery's last one.
    const std::vector<uint8_t>& probe =
        mated ? large.entries[kMatedProbe].featureTemplate : large.entries[kLargeGallery + 50].featureTemplate;
    gallery::IdentifyOptions options;
    options.topK = size_t(state.range(1));
    options.threads = unsigned(state.range(2));
    size_t searched = 0;
    int32_t best = 0;
    for (auto _ : state) {
        const gallery::IdentifyResult r = g->identify(probe.data(), probe.size(), options);
        searched += r.searched;
        best = r.hits.empty() ? 0 : r.hits[0].score;
    }
    state.counters["entries_per_s"] = benchmark::Counter(double(searched), benchmark::Counter::kIsRate);
    state.counters["best_score"] = best;
}
BENCHMARK(BM_Identify100k)
    ->ArgNames({"mated", "K", "threads"})
    ->Args({1, 1, 1})
    ->Args({0, 10, 1})
    ->Args({1, 1, 2})
    ->Args({0, 10, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
