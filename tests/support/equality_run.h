// One fixed sequence of calls through the eight exports, run once by the Linux
// build (which writes the expected lines) and once by the 32-bit Windows DLL
// under Wine (which must reproduce them byte for byte). Both sides reach the
// library only through the function pointers in Api, so the sequence, the file
// names and the formatting are shared and only the library differs.
//
// The lines:
//   print  <name> <w> <h> <quality code> <quality> <extract code> <length> <template hex>
//   bitmap <name> <FNV-1a 64 of the file SaveFinger wrote>
//   score  <probe> <reference> <flag> <code> <score>
//   error  <what> <code>
//   diagnostics <name of the print extracted last, or "none">
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "orvane.h"

namespace orvane_equality {

struct Api {
    int32_t(ORVANE_CALL* extract)(int32_t, int32_t, const uint8_t*, int32_t, uint8_t*, int32_t*);
    int32_t(ORVANE_CALL* extractEx)(const char*, int32_t, uint8_t*, int32_t*);
    int32_t(ORVANE_CALL* getQuality)(const uint8_t*, int32_t, int32_t, int32_t*);
    int32_t(ORVANE_CALL* verifyMatch)(const uint8_t*, const uint8_t*, int32_t*, int32_t);
    int32_t(ORVANE_CALL* saveFeature)(const char*, const uint8_t*);
    int32_t(ORVANE_CALL* loadFeature)(const char*, uint8_t*);
    int32_t(ORVANE_CALL* loadFinger)(const char*, uint8_t*, int32_t*, int32_t*);
    int32_t(ORVANE_CALL* saveFinger)(const char*, const uint8_t*, int32_t, int32_t);
};

// One print: a bitmap file (relative to the working directory) and the group
// it is matched within.
struct Input {
    std::string name;
    std::string group;
    std::string file;
};

// The names of the seven diagnostic files, without ".bmp".
inline const std::vector<std::string>& diagnosticNames() {
    static const std::vector<std::string> names = {"0", "00", "1", "2", "3", "4", "5"};
    return names;
}

inline std::vector<uint8_t> readWholeFile(const std::string& path, bool* ok = nullptr) {
    std::vector<uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (ok) *ok = f != nullptr;
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

inline std::string hexOf(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        s.push_back(digits[bytes[i] >> 4]);
        s.push_back(digits[bytes[i] & 15]);
    }
    return s;
}

inline uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

// Reads inputs written one per line as "<name> <group> <file>".
inline std::vector<Input> readInputList(const std::string& path) {
    std::vector<Input> inputs;
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return inputs;
    char name[256], group[256], file[1024];
    while (std::fscanf(f, "%255s %255s %1023s", name, group, file) == 3) inputs.push_back({name, group, file});
    std::fclose(f);
    return inputs;
}

inline std::vector<std::string> readLines(const std::string& path, bool* ok = nullptr) {
    std::vector<std::string> lines;
    bool opened = false;
    std::vector<uint8_t> bytes = readWholeFile(path, &opened);
    if (ok) *ok = opened;
    std::string line;
    for (uint8_t b : bytes) {
        if (b == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (b != '\r') {
            line.push_back(static_cast<char>(b));
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

inline bool writeLines(const std::string& path, const std::vector<std::string>& lines) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    for (const std::string& line : lines) std::fprintf(f, "%s\n", line.c_str());
    return std::fclose(f) == 0;
}

struct RunResult {
    std::vector<std::string> lines;     // the values both platforms must agree on
    std::vector<std::string> problems;  // failed self-checks of this run
    std::string diagnosticsPrint;       // print extracted last ("" when none extracted)
};

// Runs the whole sequence. outDir must exist; files written there are named
// after the prints. beforeDiagnostics runs just before the final extraction,
// whose stage images the caller then inspects.
inline RunResult runSequence(const Api& api, const std::vector<Input>& inputs, const std::string& outDir,
                             const std::function<void()>& beforeDiagnostics) {
    RunResult r;
    auto problem = [&r](const std::string& what) { r.problems.push_back(what); };
    char buf[512];

    struct Print {
        std::vector<uint8_t> image;
        int32_t width = 0, height = 0;
        std::vector<uint8_t> featureTemplate;  // empty when extraction failed
    };
    std::vector<Print> prints(inputs.size());

    for (size_t i = 0; i < inputs.size(); ++i) {
        const Input& in = inputs[i];
        Print& p = prints[i];
        int32_t w = -1, h = -1;
        if (api.loadFinger(in.file.c_str(), nullptr, &w, &h) != 0 || w < 1 || h < 1) {
            problem("LoadFinger (size only) failed on " + in.file);
            continue;
        }
        p.image.assign(static_cast<size_t>(w) * h, 0xA5);
        int32_t w2 = -1, h2 = -1;
        if (api.loadFinger(in.file.c_str(), p.image.data(), &w2, &h2) != 0 || w2 != w || h2 != h) {
            problem("LoadFinger failed on " + in.file);
            continue;
        }
        p.width = w;
        p.height = h;

        int32_t quality = -1;
        const int32_t qualityCode = api.getQuality(p.image.data(), w, h, &quality);

        uint8_t tpl[ORVANE_MAX_TEMPLATE_BYTES + 16];
        int32_t length = -1;
        const int32_t extractCode = api.extract(w, h, p.image.data(), 0, tpl, &length);
        const bool extracted = extractCode == 0 && length >= 4 && length <= ORVANE_MAX_TEMPLATE_BYTES;
        std::snprintf(buf, sizeof buf, "print %s %d %d %d %d %d %d ", in.name.c_str(), w, h, qualityCode, quality,
                      extractCode, extracted ? length : -1);
        r.lines.push_back(buf + (extracted ? hexOf(tpl, static_cast<size_t>(length)) : std::string("-")));
        if (extractCode == 0 && !extracted) problem("Extract gave a length out of range for " + in.name);

        // ExtractEx on the file must agree with Extract on its pixels.
        uint8_t tplEx[ORVANE_MAX_TEMPLATE_BYTES + 16];
        int32_t lengthEx = -1;
        const int32_t extractExCode = api.extractEx(in.file.c_str(), 0, tplEx, &lengthEx);
        if (extractExCode != extractCode ||
            (extracted && (lengthEx != length || std::vector<uint8_t>(tpl, tpl + length) !=
                                                      std::vector<uint8_t>(tplEx, tplEx + lengthEx))))
            problem("ExtractEx and Extract disagree on " + in.name);

        if (extracted) {
            p.featureTemplate.assign(tpl, tpl + length);
            const std::string tplPath = outDir + "/" + in.name + ".tpl";
            uint8_t back[ORVANE_MAX_TEMPLATE_BYTES + 16] = {0};
            if (api.saveFeature(tplPath.c_str(), tpl) != 0 || api.loadFeature(tplPath.c_str(), back) != 0 ||
                std::vector<uint8_t>(back, back + length) != p.featureTemplate)
                problem("SaveFeature/LoadFeature round trip failed for " + in.name);
        }

        // The bitmap writer's output is compared across platforms by its hash.
        const std::string bmpPath = outDir + "/" + in.name + ".bmp";
        if (api.saveFinger(bmpPath.c_str(), p.image.data(), w, h) != 0) {
            problem("SaveFinger failed for " + in.name);
        } else {
            std::vector<uint8_t> again(p.image.size());
            int32_t w3 = -1, h3 = -1;
            if (api.loadFinger(bmpPath.c_str(), again.data(), &w3, &h3) != 0 || w3 != w || h3 != h ||
                again != p.image)
                problem("SaveFinger/LoadFinger round trip changed " + in.name);
            std::snprintf(buf, sizeof buf, "bitmap %s %016llx", in.name.c_str(),
                          static_cast<unsigned long long>(fnv1a(readWholeFile(bmpPath))));
            r.lines.push_back(buf);
        }
    }

    // Both search modes over every ordered pair within a group, self matches included.
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (prints[i].featureTemplate.empty()) continue;
        for (size_t j = 0; j < inputs.size(); ++j) {
            if (prints[j].featureTemplate.empty() || inputs[i].group != inputs[j].group) continue;
            for (int32_t flag : {0, 1}) {
                int32_t score = -1;
                const int32_t code = api.verifyMatch(prints[i].featureTemplate.data(),
                                                     prints[j].featureTemplate.data(), &score, flag);
                std::snprintf(buf, sizeof buf, "score %s %s %d %d %d", inputs[i].name.c_str(),
                              inputs[j].name.c_str(), flag, code, score);
                r.lines.push_back(buf);
            }
        }
    }

    // A few refusals through the same entry points.
    {
        uint8_t damaged[8] = {0, 4, 0, 0x5A};
        uint8_t tpl[ORVANE_MAX_TEMPLATE_BYTES + 16];
        int32_t value = -7;
        uint8_t pixel = 128;
        std::snprintf(buf, sizeof buf, "error verify-damaged %d %d", api.verifyMatch(damaged, damaged, &value, 0),
                      value);
        r.lines.push_back(buf);
        std::snprintf(buf, sizeof buf, "error extract-oversize %d %d",
                      api.extract(ORVANE_MAX_WIDTH + 1, 1, &pixel, 0, tpl, &value), value);
        r.lines.push_back(buf);
        std::snprintf(buf, sizeof buf, "error quality-oversize %d %d",
                      api.getQuality(&pixel, 1, ORVANE_MAX_HEIGHT + 1, &value), value);
        r.lines.push_back(buf);
        std::snprintf(buf, sizeof buf, "error load-missing %d",
                      api.loadFinger((outDir + "/no-such-file.bmp").c_str(), nullptr, &value, &value));
        r.lines.push_back(buf);
    }

    // Last: one extraction whose stage images the caller keeps.
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (prints[i].featureTemplate.empty()) continue;
        beforeDiagnostics();
        uint8_t tpl[ORVANE_MAX_TEMPLATE_BYTES + 16];
        int32_t length = -1;
        if (api.extract(prints[i].width, prints[i].height, prints[i].image.data(), 0, tpl, &length) != 0)
            problem("the final extraction of " + inputs[i].name + " failed");
        r.diagnosticsPrint = inputs[i].name;
        break;
    }
    r.lines.push_back("diagnostics " + (r.diagnosticsPrint.empty() ? std::string("none") : r.diagnosticsPrint));
    return r;
}

// Line-by-line comparison; returns a description of each difference (at most
// maxReports of them, then a count).
inline std::vector<std::string> compareLines(const std::vector<std::string>& expected,
                                             const std::vector<std::string>& actual, size_t maxReports = 20) {
    std::vector<std::string> report;
    size_t differences = 0;
    const size_t n = expected.size() > actual.size() ? expected.size() : actual.size();
    for (size_t i = 0; i < n; ++i) {
        const std::string e = i < expected.size() ? expected[i] : "<missing>";
        const std::string a = i < actual.size() ? actual[i] : "<missing>";
        if (e == a) continue;
        if (++differences <= maxReports)
            report.push_back("line " + std::to_string(i + 1) + "\n  expected: " + e + "\n  actual:   " + a);
    }
    if (differences > maxReports) report.push_back(std::to_string(differences - maxReports) + " more differences");
    return report;
}

}  // namespace orvane_equality
