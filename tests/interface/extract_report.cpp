// Runs extraction over every print of the data folder (or the folder given as
// the first argument) and prints per database folder: prints extracting (0)
// and failing (10400), mean minutiae, mean VerifyMatch scores of genuine pairs
// (every pair of impressions of a finger, stems FINGER_IMPRESSION) and of
// impostor pairs (first impressions of different fingers) in both modes, and
// the time per extraction on this thread.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "interface/extraction.h"
#include "orvane.h"
#include "workspace/workspace.h"

namespace fs = std::filesystem;
using namespace orvane;

namespace {

struct Entry {
    std::string finger;
    int impression = 0;
    int code = -1;
    int minutiae = 0;
    std::vector<uint8_t> featureTemplate;
};

struct Mean {
    double sum = 0;
    int count = 0;
    void add(double v) { sum += v, ++count; }
    double value() const { return count ? sum / count : 0.0; }
};

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("ORVANE_DATA_DIR");
    const std::string root = argc > 1 ? argv[1] : (env && *env ? env : ORVANE_DATA_DIR);
    std::map<std::string, std::vector<std::string>> folders;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->path().extension() == ".bmp") folders[it->path().parent_path().filename().string()].push_back(it->path().string());
    }
    if (folders.empty()) {
        std::fprintf(stderr, "no prints under %s\n", root.c_str());
        return 1;
    }
    auto ws = std::make_unique<Workspace>();
    std::printf("%-16s %5s %6s %8s %9s %9s %9s %9s %9s\n", "folder", "ok", "10400", "minutiae", "gen full",
                "imp full", "gen quick", "imp quick", "ms/print");
    for (auto& [folder, paths] : folders) {
        std::sort(paths.begin(), paths.end());
        std::vector<Entry> entries;
        double seconds = 0;
        int timed = 0;
        for (const auto& path : paths) {
            Entry e;
            const std::string stem = fs::path(path).stem().string();
            const size_t underscore = stem.find('_');
            e.finger = stem.substr(0, underscore);
            e.impression = underscore == std::string::npos ? 0 : std::atoi(stem.c_str() + underscore + 1);
            int32_t width = 0, height = 0;
            if (readBitmap(path.c_str(), nullptr, &width, &height) != 0) continue;
            if (width > kMaxWidth || height > kMaxHeight) continue;
            std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
            if (readBitmap(path.c_str(), pixels.data(), &width, &height) != 0) continue;
            std::vector<uint8_t> featureTemplate(ORVANE_MAX_TEMPLATE_BYTES);
            int32_t length = 0;
            const auto t0 = std::chrono::steady_clock::now();
            e.code = extractTemplate(*ws, pixels.data(), width, height, featureTemplate.data(), &length, nullptr);
            const auto t1 = std::chrono::steady_clock::now();
            seconds += std::chrono::duration<double>(t1 - t0).count();
            ++timed;
            if (e.code == 0) {
                featureTemplate.resize(static_cast<size_t>(length));
                e.featureTemplate = featureTemplate;
                e.minutiae = featureTemplate[2];
            }
            entries.push_back(std::move(e));
        }
        int ok = 0, failed = 0;
        Mean minutiae, genuine[2], impostor[2];
        for (const auto& e : entries) {
            if (e.code == 0) {
                ++ok;
                minutiae.add(e.minutiae);
            } else if (e.code == 10400) {
                ++failed;
            }
        }
        auto score = [](const Entry& a, const Entry& b, int32_t flag) {
            int32_t s = 0;
            return VerifyMatch(a.featureTemplate.data(), b.featureTemplate.data(), &s, flag) == 0 ? s : -1;
        };
        // Prints that fail to extract take no part in the scores.
        for (size_t i = 0; i < entries.size(); ++i) {
            for (size_t j = i + 1; j < entries.size(); ++j) {
                const Entry& a = entries[i];
                const Entry& b = entries[j];
                if (a.code != 0 || b.code != 0) continue;
                const bool sameFinger = a.finger == b.finger;
                const bool impostorPair = !sameFinger && a.impression == 1 && b.impression == 1;
                if (!sameFinger && !impostorPair) continue;
                for (int mode = 0; mode < 2; ++mode) {
                    const int32_t s = score(a, b, mode);
                    if (s < 0) continue;
                    (sameFinger ? genuine : impostor)[mode].add(s);
                }
            }
        }
        std::printf("%-16s %5d %6d %8.1f %9.1f %9.1f %9.1f %9.1f %9.2f\n", folder.c_str(), ok, failed, minutiae.value(),
                    genuine[0].value(), impostor[0].value(), genuine[1].value(), impostor[1].value(),
                    timed ? 1000.0 * seconds / timed : 0.0);
        std::printf("%-16s pairs: genuine %d, impostor %d\n", "", genuine[0].count, impostor[0].count);
    }
    return 0;
}
