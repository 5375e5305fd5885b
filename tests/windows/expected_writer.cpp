// Writes the case folder for the Windows equality test from the Linux build:
// the input prints (synthetic ones made here, plus a few real ones when the
// data folder is present), inputs.txt, the expected lines of the shared call
// sequence (expected.txt) and the stage images of its final extraction (diag/).
//
//   orvane_win_expected <case folder> [data folder [prints per folder]]
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
#include "support/equality_run.h"

using namespace orvane_equality;

namespace {

// A deterministic ridge pattern: flattened concentric rings (a curved
// orientation field) whose phase carries a +1 or -1 spiral term around each of
// a few scattered points, so that one ridge ends or forks at each point. The
// pattern may be turned and shifted (a second impression of the same finger);
// outside an elliptic finger outline the image is white, and a little
// pseudo-random noise is added.
struct SyntheticPrint {
    int32_t width, height;
    double period, flatten;
    int32_t minutiaCount;
    uint32_t seed;
    double turnDegrees, shiftX, shiftY;
};

std::vector<uint8_t> drawSynthetic(const SyntheticPrint& s) {
    const double pi = 3.14159265358979323846;
    uint32_t state = s.seed;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state;
    };
    auto uniform = [&next] { return (next() >> 8) / 16777216.0; };

    // Points in pattern coordinates (origin at the ring centre), kept apart.
    const double reach = 0.36 * std::min(s.width, s.height);
    std::vector<double> px, py, sign;
    for (int attempt = 0; attempt < 2000 && static_cast<int32_t>(px.size()) < s.minutiaCount; ++attempt) {
        const double x = (2.0 * uniform() - 1.0) * reach, y = (2.0 * uniform() - 1.0) * reach * 1.2;
        const bool positive = (next() >> 16) & 1;
        if (x * x + y * y < 400.0) continue;  // clear of the ring centre
        bool clear = true;
        for (size_t i = 0; i < px.size(); ++i) clear = clear && (x - px[i]) * (x - px[i]) + (y - py[i]) * (y - py[i]) > 900.0;
        if (!clear) continue;
        px.push_back(x);
        py.push_back(y);
        sign.push_back(positive ? 1.0 : -1.0);
    }

    std::vector<uint8_t> img(static_cast<size_t>(s.width) * s.height, 255);
    const double cx = s.width * 0.5, cy = s.height * 0.5;
    const double ex = s.width * 0.42, ey = s.height * 0.46;
    const double c = std::cos(s.turnDegrees * pi / 180.0), sn = std::sin(s.turnDegrees * pi / 180.0);
    for (int32_t y = 0; y < s.height; ++y) {
        for (int32_t x = 0; x < s.width; ++x) {
            const uint32_t noise = next();
            const double ox = (x - cx) / ex, oy = (y - cy) / ey;
            if (ox * ox + oy * oy > 1.0) continue;
            // Image to pattern coordinates; the ring centre sits a little above the middle.
            const double u = c * (x - cx) + sn * (y - cy) - s.shiftX;
            const double v = -sn * (x - cx) + c * (y - cy) - s.shiftY + 0.08 * s.height;
            double phase = 2.0 * pi * std::sqrt(u * u + v * v * s.flatten * s.flatten) / s.period;
            for (size_t i = 0; i < px.size(); ++i) phase += sign[i] * std::atan2(v - py[i], u - px[i]);
            const int value = static_cast<int>(std::lround(128.0 + 95.0 * std::cos(phase))) +
                              static_cast<int>((noise >> 24) % 17) - 8;
            img[static_cast<size_t>(y) * s.width + x] = static_cast<uint8_t>(std::min(255, std::max(0, value)));
        }
    }
    return img;
}

// Prints 2 and 3 are the same finger, turned and shifted against each other.
const SyntheticPrint kSynthetic[] = {
    {256, 364, 8.5, 1.15, 12, 11u, 0.0, 0.0, 0.0},
    {320, 400, 9.0, 1.25, 16, 23u, 0.0, 0.0, 0.0},
    {320, 400, 9.0, 1.25, 16, 23u, 17.0, 12.0, -9.0},
    {640, 480, 10.0, 1.20, 22, 37u, 0.0, 0.0, 0.0},
    {300, 300, 8.0, 1.05, 10, 41u, 0.0, 0.0, 0.0},
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
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s <case folder> [data folder [prints per folder]]\n", argv[0]);
        return 2;
    }
    const std::string caseDir = argv[1];
    std::string dataDir = argc >= 3 ? argv[2] : "";
    const size_t perFolder = argc == 4 ? static_cast<size_t>(std::max(0, std::atoi(argv[3]))) : 3;
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

    // A few real prints per sensor: the first files of each folder.
    int realCount = 0;
    if (!dataDir.empty()) {
        for (const std::string& folder : listDir(dataDir, true)) {
            std::vector<std::string> files = listDir(dataDir + "/" + folder, false);
            if (files.size() > perFolder) files.resize(perFolder);
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
    // Without templates the Windows run would compare little but refusals.
    // A tree whose extraction stages are not in yet gives no template at all;
    // once there are templates, the synthetic prints must give some.
    if (extracted == 0) {
        std::printf("note: no print gave a template in this build; only bitmaps and refusals are compared\n");
    } else if (syntheticExtracted < 2) {
        std::fprintf(stderr, "problem: only %d synthetic prints gave a template (at least 2 needed)\n",
                     syntheticExtracted);
        return 1;
    }
    return run.problems.empty() ? 0 : 1;
}
