// Runs extraction and identification in a loop for a while and prints the
// resident memory as it goes, to show that nothing leaks or keeps growing.
//
//   soak [--seconds N] [--threads N] [--gallery N] [--data DIR]
//
// Each round extracts every print on every thread (a workspace per thread,
// made anew each round), writes and reads the templates back through the
// exports, builds a fresh gallery from them plus synthetic entries, and
// searches it with every template. Real prints come from DIR (default: the
// shared data folder) when present, otherwise print-like synthetic images.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "interface/extraction.h"
#include "orvane.h"
#include "search/search.h"
#include "support/synthetic_gallery.h"

namespace fs = std::filesystem;
using namespace orvane;

namespace {

struct Grey {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

double residentMiB() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::vector<Grey> loadPrints(const std::string& folder, size_t limit) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".bmp") paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Grey> prints;
    for (const std::string& path : paths) {
        if (prints.size() == limit) break;
        Grey g;
        if (LoadFinger(path.c_str(), nullptr, &g.width, &g.height) != ORVANE_OK) continue;
        g.pixels.resize(size_t(g.width) * size_t(g.height));
        if (LoadFinger(path.c_str(), g.pixels.data(), &g.width, &g.height) == ORVANE_OK) prints.push_back(g);
    }
    return prints;
}

// Rings of ridges broken along two rays, so that they have minutiae.
std::vector<Grey> syntheticPrints(size_t count) {
    std::vector<Grey> prints;
    for (size_t seed = 0; seed < count; ++seed) {
        Grey g{256, 360, std::vector<uint8_t>(256 * 360, 230)};
        const double cx = 118.0 + double(seed % 20), cy = 170.0 + double(seed % 30);
        for (int32_t y = 0; y < g.height; ++y) {
            for (int32_t x = 0; x < g.width; ++x) {
                const double dx = x - cx, dy = (y - cy) * 0.8, r = std::sqrt(dx * dx + dy * dy);
                const double shift = (dx > 0) == (dy > 0) ? 3.14159 : 0.0;
                if (r < 105) g.pixels[size_t(y) * 256 + size_t(x)] = uint8_t(128 + 100 * std::sin(r * 0.65 + shift));
            }
        }
        prints.push_back(std::move(g));
    }
    return prints;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 180;
    unsigned threads = 2;
    size_t syntheticEntries = 500;
    std::string data = ORVANE_DATA_DIR;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds") seconds = std::atof(argv[i + 1]);
        else if (option == "--threads") threads = unsigned(std::max(1, std::atoi(argv[i + 1])));
        else if (option == "--gallery") syntheticEntries = size_t(std::max(0, std::atoi(argv[i + 1])));
        else if (option == "--data") data = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: soak [--seconds N] [--threads N] [--gallery N] [--data DIR]\n");
            return 2;
        }
    }
    std::vector<Grey> prints = loadPrints(data, 12);
    const bool real = !prints.empty();
    if (!real) prints = syntheticPrints(12);
    const std::string folder = fs::temp_directory_path().string() + "/orvane-soak-" + std::to_string(getpid());
    fs::create_directories(folder);
    std::printf("soak: %zu %s prints, %u threads, %zu synthetic gallery entries, %.0f s\n", prints.size(),
                real ? "real" : "synthetic", threads, syntheticEntries, seconds);
    std::printf("%8s %7s %12s %10s %9s\n", "seconds", "rounds", "extractions", "searches", "RSS MiB");

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    double nextReport = 0, firstRss = 0, peakRss = 0, lastRss = 0;
    size_t rounds = 0, extractions = 0, searches = 0, failures = 0;
    while (true) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed >= nextReport || elapsed >= seconds) {
            lastRss = residentMiB();
            peakRss = std::max(peakRss, lastRss);
            std::printf("%8.0f %7zu %12zu %10zu %9.1f\n", elapsed, rounds, extractions, searches, lastRss);
            std::fflush(stdout);
            nextReport = elapsed + std::max(1.0, seconds / 30);
        }
        if (elapsed >= seconds) break;

        // Extraction on every thread, each with a workspace of its own.
        std::vector<std::vector<std::vector<uint8_t>>> made(threads);
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                std::unique_ptr<Workspace> ws(new Workspace());
                for (size_t i = t; i < prints.size(); i += threads) {
                    std::vector<uint8_t> featureTemplate(ORVANE_MAX_TEMPLATE_BYTES);
                    int32_t length = 0;
                    const Grey& g = prints[i];
                    if (extractTemplate(*ws, g.pixels.data(), g.width, g.height, featureTemplate.data(), &length,
                                        nullptr) == 0) {
                        featureTemplate.resize(size_t(length));
                        made[t].push_back(std::move(featureTemplate));
                    }
                }
            });
        }
        for (std::thread& w : workers) w.join();
        std::vector<std::vector<uint8_t>> templates;
        for (auto& list : made) {
            for (auto& t : list) templates.push_back(std::move(t));
        }
        extractions += prints.size();

        // Through the file exports and back.
        const std::string path = folder + "/round.tpl";
        for (std::vector<uint8_t>& t : templates) {
            std::vector<uint8_t> back(ORVANE_MAX_TEMPLATE_BYTES);
            if (SaveFeature(path.c_str(), t.data()) != 0 || LoadFeature(path.c_str(), back.data()) != 0 ||
                !std::equal(t.begin(), t.end(), back.begin())) {
                ++failures;
            }
        }

        // A fresh gallery each round, searched with every template.
        search::TemplateSet set;
        for (const synthetic::GalleryEntry& e : synthetic::syntheticGallery(syntheticEntries, uint32_t(rounds))) {
            set.add(e.featureTemplate.data(), e.featureTemplate.size());
        }
        for (const std::vector<uint8_t>& t : templates) set.add(t.data(), t.size());
        search::SearchOptions options;
        options.threads = threads;
        for (size_t i = 0; i < templates.size(); ++i) {
            search::Probe probe;
            if (search::Probe::prepare(templates[i].data(), templates[i].size(), probe) != 0) continue;
            options.mode = i % 2 ? search::MatchMode::Quick : search::MatchMode::Full;
            const std::vector<search::Hit> hits = search::search(set, probe, options);
            if (hits.empty() || hits[0].score < 1) ++failures;
            ++searches;
        }
        if (++rounds == 1) firstRss = residentMiB();  // what the first round allocated and kept
    }
    fs::remove_all(folder);
    std::printf("resident after the first round %.1f MiB, at the end %.1f MiB (growth %+.1f MiB), peak %.1f MiB; "
                "%zu failures\n",
                firstRss, lastRss, lastRss - firstRss, peakRss, failures);
    return failures == 0 ? 0 : 1;
}
