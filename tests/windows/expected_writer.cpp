// Writes the case folder for the Windows equality test from the Linux build:
// the input prints (synthetic ones made here, plus a few real ones when the
// data folder is present), inputs.txt, the expected lines of the shared call
// sequence (expected.txt) and the stage images of its final extraction (diag/).
//
//   orvane_win_expected <case folder> [data folder]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <vector>

#include "orvane.h"
#include "windows/equality_run.h"

using namespace orvane_equality;

namespace {

// A deterministic ridge pattern: concentric, slightly flattened rings whose
// spacing changes across the print (so ridges end and fork) with a few turns
// of spiral around an off-centre core, on a white background outside an
// elliptic finger outline, with a little pseudo-random noise.
struct SyntheticPrint {
    int32_t width, height;
    double basePeriod, periodSwing, swingScale, spiralTurns, flatten;
    uint32_t seed;
};

std::vector<uint8_t> drawSynthetic(const SyntheticPrint& s) {
    const double pi = 3.14159265358979323846;
    std::vector<uint8_t> img(static_cast<size_t>(s.width) * s.height, 255);
    const double cx = s.width * 0.47, cy = s.height * 0.42;
    const double ex = s.width * 0.40, ey = s.height * 0.44;
    uint32_t state = s.seed;
    for (int32_t y = 0; y < s.height; ++y) {
        for (int32_t x = 0; x < s.width; ++x) {
            state = state * 1664525u + 1013904223u;
            const double ox = (x - s.width * 0.5) / ex, oy = (y - s.height * 0.5) / ey;
            if (ox * ox + oy * oy > 1.0) continue;
            const double dx = x - cx, dy = (y - cy) * s.flatten;
            const double r = std::sqrt(dx * dx + dy * dy);
            const double period = s.basePeriod + s.periodSwing * std::sin(dx / s.swingScale + dy / (1.7 * s.swingScale));
            const double phase = 2.0 * pi * r / period + s.spiralTurns * std::atan2(dy, dx);
            const int noise = static_cast<int>((state >> 24) % 17) - 8;
            const int v = static_cast<int>(std::lround(128.0 + 95.0 * std::cos(phase))) + noise;
            img[static_cast<size_t>(y) * s.width + x] = static_cast<uint8_t>(std::min(255, std::max(0, v)));
        }
    }
    return img;
}

const SyntheticPrint kSynthetic[] = {
    {256, 364, 8.5, 2.0, 37.0, 1.0, 1.15, 11u},
    {320, 400, 9.0, 2.5, 45.0, 2.0, 1.30, 23u},
    {640, 480, 10.0, 3.0, 60.0, 1.0, 1.20, 37u},
    {300, 300, 8.0, 1.5, 29.0, 0.0, 1.05, 41u},
};

std::vector<std::string> listDir(const std::string& dir, bool wantDirs) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (stat((dir + "/" + name).c_str(), &st) != 0) continue;
        if (wantDirs ? S_ISDIR(st.st_mode)
                     : (S_ISREG(st.st_mode) && name.size() > 4 && name.substr(name.size() - 4) == ".bmp"))
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool copyFile(const std::string& from, const std::string& to) {
    bool ok = false;
    std::vector<uint8_t> bytes = readWholeFile(from, &ok);
    if (!ok) return false;
    std::FILE* f = std::fopen(to.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s <case folder> [data folder]\n", argv[0]);
        return 2;
    }
    const std::string caseDir = argv[1];
    std::string dataDir = argc == 3 ? argv[2] : "";
    if (!dataDir.empty() && dataDir[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) dataDir = std::string(cwd) + "/" + dataDir;
    }
    mkdir(caseDir.c_str(), 0755);
    if (chdir(caseDir.c_str()) != 0) {
        std::fprintf(stderr, "cannot enter %s\n", caseDir.c_str());
        return 1;
    }
    mkdir("out", 0755);
    mkdir("diag", 0755);
    for (const std::string& n : diagnosticNames()) std::remove(("diag/" + n + ".bmp").c_str());
    unsetenv("ORVANE_DEBUG_DIR");

    std::vector<Input> inputs;
    int index = 0;
    for (const SyntheticPrint& s : kSynthetic) {
        const std::string name = "synthetic" + std::to_string(++index);
        const std::vector<uint8_t> img = drawSynthetic(s);
        if (SaveFinger((name + ".bmp").c_str(), img.data(), s.width, s.height) != 0) {
            std::fprintf(stderr, "cannot write %s.bmp\n", name.c_str());
            return 1;
        }
        inputs.push_back({name, "synthetic", name + ".bmp"});
    }

    // A few real prints per sensor: the first three files of each folder.
    int realCount = 0;
    if (!dataDir.empty()) {
        for (const std::string& folder : listDir(dataDir, true)) {
            std::vector<std::string> files = listDir(dataDir + "/" + folder, false);
            if (files.size() > 3) files.resize(3);
            for (const std::string& file : files) {
                const std::string name = "real_" + folder + "_" + file.substr(0, file.size() - 4);
                if (!copyFile(dataDir + "/" + folder + "/" + file, name + ".bmp")) continue;
                inputs.push_back({name, folder, name + ".bmp"});
                ++realCount;
            }
        }
    }

    std::vector<std::string> list;
    for (const Input& in : inputs) list.push_back(in.name + " " + in.group + " " + in.file);
    if (!writeLines("inputs.txt", list)) {
        std::fprintf(stderr, "cannot write inputs.txt\n");
        return 1;
    }

    const Api api = {&Extract, &ExtractEx, &GetQuality, &VerifyMatch, &SaveFeature, &LoadFeature, &LoadFinger,
                     &SaveFinger};
    RunResult run = runSequence(api, inputs, "out", [] { setenv("ORVANE_DEBUG_DIR", "diag", 1); });
    unsetenv("ORVANE_DEBUG_DIR");
    if (!writeLines("expected.txt", run.lines)) {
        std::fprintf(stderr, "cannot write expected.txt\n");
        return 1;
    }

    int extracted = 0, syntheticExtracted = 0;
    for (const std::string& line : run.lines) {
        char name[256];
        int w, h, qc, q, xc;
        if (std::sscanf(line.c_str(), "print %255s %d %d %d %d %d", name, &w, &h, &qc, &q, &xc) == 6 && xc == 0) {
            ++extracted;
            if (std::string(name).rfind("synthetic", 0) == 0) ++syntheticExtracted;
        }
    }
    std::printf("%zu prints (%d real), %d extracted (%d synthetic), %zu expected lines, diagnostics from %s\n",
                inputs.size(), realCount, extracted, syntheticExtracted, run.lines.size(),
                run.diagnosticsPrint.empty() ? "none" : run.diagnosticsPrint.c_str());
    for (const std::string& p : run.problems) std::fprintf(stderr, "problem: %s\n", p.c_str());
    return run.problems.empty() ? 0 : 1;
}
