#include "evaluation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <filesystem>
#include <map>
#include <utility>

#include "batch.h"
#include "common.h"
#include "image_input.h"
#include "match/matcher.h"
#include "plots.h"
#include "template_formats.h"
#include "safe_write.h"

namespace fs = std::filesystem;

namespace orvane::cli {

namespace {

bool isNumber(const std::string& s) {
    return !s.empty() && s.size() < 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Impressions in their natural order: numerically when both are numbers.
bool impressionBefore(const std::string& a, const std::string& b) {
    if (isNumber(a) && isNumber(b)) return std::atol(a.c_str()) < std::atol(b.c_str());
    return a < b;
}

struct Finger {
    std::string name;
    std::vector<std::pair<std::string, size_t>> impressions;  // impression name, index into the file list
};

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// Every comparison, one row each, with its score in both searches.
void writeScores(const std::string& path, const std::vector<std::string>& files,
                 const std::vector<ExtractionOutcome>& outcomes, const std::vector<std::pair<size_t, size_t>>& pairs,
                 size_t genuineCount, const std::vector<ModeResult>& modes) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f) throw CliError(path + ": cannot write scores (" + std::strerror(errno) + ")");
    std::fprintf(f.get(), "probe,gallery,comparison");
    for (const ModeResult& m : modes) std::fprintf(f.get(), ",%s_score", m.name.c_str());
    std::fprintf(f.get(), ",note\n");
    for (size_t i = 0; i < pairs.size(); ++i) {
        const bool genuine = i < genuineCount;
        std::fprintf(f.get(), "%s,%s,%s", csvField(files[pairs[i].first]).c_str(),
                     csvField(files[pairs[i].second]).c_str(), genuine ? "genuine" : "impostor");
        for (const ModeResult& m : modes) {
            std::fprintf(f.get(), ",%d", genuine ? m.genuine[i] : m.impostor[i - genuineCount]);
        }
        const bool extracted = outcomes[pairs[i].first].ok() && outcomes[pairs[i].second].ok();
        std::fprintf(f.get(), ",%s\n", extracted ? "" : "failed extraction, scored 0");
    }
    if (std::ferror(f.get()) || std::fclose(f.release()) != 0) {
        throw CliError(path + ": cannot write scores (" + std::strerror(errno) + ")");
    }
}

}  // namespace

EvaluationReport evaluateFolder(const std::string& folder, const EvaluationOptions& options) {
    EvaluationReport report;
    report.folder = folder;
    report.allImpostors = options.allImpostors;
    std::vector<std::string> files = listFiles(folder, false);
    files.erase(std::remove_if(files.begin(), files.end(), [](const std::string& f) {
                    TemplateFormat format;
                    return !hasImageExtension(f) && !templateFormatOfName(f, format);
                }), files.end());

    std::map<std::string, Finger> byName;
    std::vector<std::string> used;
    size_t skipped = 0;
    for (const std::string& path : files) {
        const std::string stem = fileStem(path);
        const size_t cut = stem.rfind('_');
        if (cut == std::string::npos || cut == 0 || cut + 1 == stem.size()) {
            ++skipped;
            continue;
        }
        Finger& f = byName[stem.substr(0, cut)];
        f.name = stem.substr(0, cut);
        f.impressions.emplace_back(stem.substr(cut + 1), used.size());
        used.push_back(path);
    }
    if (skipped && !settings().quiet) {
        std::fprintf(stderr, "orvane: eval: %zu file(s) not named FINGER_IMPRESSION were left out\n", skipped);
    }
    if (used.empty()) throw CliError(folder + ": no images named FINGER_IMPRESSION (.bmp .png .jpg .pgm .tif) or templates (.tpl .iso .ansi .txt)");
    std::vector<Finger> fingers;
    for (auto& entry : byName) {
        Finger f = entry.second;
        std::sort(f.impressions.begin(), f.impressions.end(),
                  [](const auto& a, const auto& b) { return impressionBefore(a.first, b.first); });
        fingers.push_back(std::move(f));
    }
    report.fingers = static_cast<int32_t>(fingers.size());
    report.images = static_cast<int32_t>(used.size());

    const std::vector<ExtractionOutcome> outcomes = templatesOfFiles(used, options.crop, true, "extracting");
    double extractionSeconds = 0, minutiae = 0, quality = 0;
    int32_t extracted = 0, rated = 0;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const ExtractionOutcome& o = outcomes[i];
        if (o.cropped && options.crop == CropMode::Auto) report.windows.emplace_back(used[i], o.window);
        if (o.quality >= 0) {
            quality += o.quality;
            ++rated;
        }
        if (o.code == -1) {
            report.failedFiles.push_back(o.message);
            ++report.failedExtractions;
            continue;
        }
        extractionSeconds += o.seconds;
        if (o.ok()) {
            minutiae += o.minutiaCount();
            ++extracted;
        } else {
            report.failedFiles.push_back(o.message);
            ++report.failedExtractions;
        }
    }
    const int32_t attempted = static_cast<int32_t>(outcomes.size()) - static_cast<int32_t>(std::count_if(
        outcomes.begin(), outcomes.end(), [](const ExtractionOutcome& o) { return o.code == -1; }));
    report.secondsPerExtraction = attempted ? extractionSeconds / attempted : 0;
    report.meanMinutiae = extracted ? minutiae / extracted : 0;
    report.meanQuality = rated ? quality / rated : 0;

    // Pairs of file indices: genuine first, then impostor.
    std::vector<std::pair<size_t, size_t>> pairs;
    for (const Finger& f : fingers) {
        for (size_t a = 0; a < f.impressions.size(); ++a) {
            for (size_t b = a + 1; b < f.impressions.size(); ++b) {
                pairs.emplace_back(f.impressions[a].second, f.impressions[b].second);
            }
        }
    }
    const size_t genuineCount = pairs.size();
    for (size_t f = 0; f < fingers.size(); ++f) {
        for (size_t g = f + 1; g < fingers.size(); ++g) {
            if (!options.allImpostors) {
                pairs.emplace_back(fingers[f].impressions[0].second, fingers[g].impressions[0].second);
                continue;
            }
            for (const auto& a : fingers[f].impressions) {
                for (const auto& b : fingers[g].impressions) pairs.emplace_back(a.second, b.second);
            }
        }
    }

    constexpr size_t kBlock = 64;
    const size_t blocks = (pairs.size() + kBlock - 1) / kBlock;
    for (int32_t flag : {0, 1}) {
        ModeResult mode;
        mode.name = flag == 0 ? "full" : "quick";
        std::vector<int32_t> scores(pairs.size(), 0);
        std::vector<double> blockSeconds(blocks, 0);
        std::vector<size_t> blockComparisons(blocks, 0);
        parallelFor(blocks, flag == 0 ? "matching" : "quick match", [&](size_t block, Workspace&) {
            const size_t end = std::min(pairs.size(), (block + 1) * kBlock);
            const auto start = std::chrono::steady_clock::now();
            size_t compared = 0;
            for (size_t i = block * kBlock; i < end; ++i) {
                const ExtractionOutcome& a = outcomes[pairs[i].first];
                const ExtractionOutcome& b = outcomes[pairs[i].second];
                if (!a.ok() || !b.ok()) continue;  // a failed extraction scores 0
                int32_t score = 0;
                if (verifyTemplates(a.featureTemplate.data(), b.featureTemplate.data(), &score, flag) == 0) {
                    scores[i] = score;
                }
                ++compared;
            }
            blockSeconds[block] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            blockComparisons[block] = compared;
        });
        double seconds = 0;
        size_t compared = 0;
        for (size_t b = 0; b < blocks; ++b) {
            seconds += blockSeconds[b];
            compared += blockComparisons[b];
        }
        mode.secondsPerComparison = compared ? seconds / static_cast<double>(compared) : 0;
        mode.genuine.assign(scores.begin(), scores.begin() + static_cast<std::ptrdiff_t>(genuineCount));
        mode.impostor.assign(scores.begin() + static_cast<std::ptrdiff_t>(genuineCount), scores.end());
        mode.rates = computeErrorRates(mode.genuine, mode.impostor);
        report.modes.push_back(std::move(mode));
    }

    if (!options.scoresPath.empty()) {
        writeScores(options.scoresPath, used, outcomes, pairs, genuineCount, report.modes);
        report.scoresPath = options.scoresPath;
    }
    if (!options.plotPath.empty()) {
        std::vector<PlotSeries> series;
        for (const ModeResult& m : report.modes) series.push_back({m.name, m.genuine, m.impostor});
        writeFileSafely(options.plotPath, [&](const std::string& file) {
            drawEvaluationPlot(file, "orvane eval: " + fs::path(folder).filename().string(), series);
            return true;
        });
    }
    return report;
}

namespace {

std::string percentOrNa(const FmrPoint& p) {
    if (!p.supported) return "n/a";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f%%", p.fnmr * 100);
    return buf;
}

std::string thresholdOrNa(const FmrPoint& p) { return p.supported ? std::to_string(p.threshold) : "n/a"; }

std::string fmrPointJson(const FmrPoint& p) {
    if (!p.supported) return "null";
    return "{\"fnmr\":" + jsonNumber(p.fnmr) + ",\"threshold\":" + std::to_string(p.threshold) + "}";
}

std::string plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

void printReport(const EvaluationReport& report, bool json, const std::string& command,
                 const std::string& extraMembers) {
    const ModeResult* full = report.modes.empty() ? nullptr : &report.modes[0];
    const size_t genuine = full ? full->genuine.size() : 0;
    const size_t impostor = full ? full->impostor.size() : 0;
    const double fte = report.images ? double(report.failedExtractions) / report.images : 0;
    if (json) {
        std::string s = "{\"command\":" + jsonString(command) + ",\"folder\":" + jsonString(report.folder) +
                        ",\"fingers\":" + std::to_string(report.fingers) + ",\"images\":" + std::to_string(report.images) +
                        ",\"failedExtractions\":" + std::to_string(report.failedExtractions) +
                        ",\"fte\":" + jsonNumber(fte) + ",\"meanMinutiae\":" + jsonNumber(report.meanMinutiae) +
                        ",\"meanQuality\":" + jsonNumber(report.meanQuality) +
                        ",\"msPerExtraction\":" + jsonNumber(report.secondsPerExtraction * 1000) +
                        ",\"impostorProtocol\":" + jsonString(report.allImpostors ? "all" : "first") +
                        ",\"genuineComparisons\":" + std::to_string(genuine) +
                        ",\"impostorComparisons\":" + std::to_string(impostor) + ",\"failedFiles\":[";
        for (size_t i = 0; i < report.failedFiles.size(); ++i) {
            s += (i ? "," : "") + jsonString(report.failedFiles[i]);
        }
        s += "]";
        if (!report.windows.empty()) {
            s += ",\"windows\":[";
            for (size_t i = 0; i < report.windows.size(); ++i) {
                const auto& w = report.windows[i];
                s += std::string(i ? "," : "") + "{\"image\":" + jsonString(w.first) +
                     ",\"left\":" + std::to_string(w.second.left) + ",\"top\":" + std::to_string(w.second.top) +
                     ",\"width\":" + std::to_string(w.second.width) + ",\"height\":" + std::to_string(w.second.height) +
                     "}";
            }
            s += "]";
        }
        if (!report.scoresPath.empty()) s += ",\"scores\":" + jsonString(report.scoresPath);
        s += ",\"modes\":[";
        for (size_t i = 0; i < report.modes.size(); ++i) {
            const ModeResult& m = report.modes[i];
            const ErrorRates& r = m.rates;
            auto rate = [&](double v) { return r.rated ? jsonNumber(v) : std::string("null"); };
            auto point = [&](const FmrPoint& p) { return r.rated ? fmrPointJson(p) : std::string("null"); };
            s += std::string(i ? "," : "") + "{\"mode\":" + jsonString(m.name) + ",\"eer\":" + rate(r.eer) +
                 ",\"eerLow\":" + rate(r.eerLow) + ",\"eerHigh\":" + rate(r.eerHigh) +
                 ",\"eerThreshold\":" + (r.rated ? std::to_string(r.eerThreshold) : "null") +
                 ",\"fmr100\":" + point(r.fmr100) + ",\"fmr1000\":" + point(r.fmr1000) +
                 ",\"fmr10000\":" + point(r.fmr10000) + ",\"zeroFmr\":" + point(r.zeroFmr) +
                 ",\"genuineMean\":" + (m.genuine.empty() ? "null" : jsonNumber(r.genuineMean)) +
                 ",\"impostorMean\":" + (m.impostor.empty() ? "null" : jsonNumber(r.impostorMean)) +
                 ",\"msPerComparison\":" + jsonNumber(m.secondsPerComparison * 1000) + "}";
        }
        emitJson(s + "]" + extraMembers + "}");
        return;
    }
    std::printf("%s: %s, %s\n", report.folder.c_str(), plural(report.fingers, "finger", "fingers").c_str(),
                plural(report.images, "image", "images").c_str());
    std::printf("extraction: %d failed (FTE %.2f%%, scored 0), %.1f minutiae and quality %.0f on average, "
                "%.2f ms per image\n",
                report.failedExtractions, fte * 100, report.meanMinutiae, report.meanQuality,
                report.secondsPerExtraction * 1000);
    if (!report.windows.empty()) {
        double w = 0, h = 0;
        for (const auto& win : report.windows) {
            w += win.second.width;
            h += win.second.height;
        }
        const double n = static_cast<double>(report.windows.size());
        std::printf("--crop auto: extracted from each print's window, %.0f x %.0f on average (--json lists them)\n",
                    w / n, h / n);
    }
    constexpr size_t kListed = 5;
    for (size_t i = 0; i < report.failedFiles.size() && i < kListed; ++i) {
        std::printf("  failed: %s\n", report.failedFiles[i].c_str());
    }
    if (report.failedFiles.size() > kListed) {
        std::printf("  ... and %zu more (--json lists them all)\n", report.failedFiles.size() - kListed);
    }
    std::printf("comparisons: %zu genuine, %zu impostor (%s)\n\n", genuine, impostor,
                report.allImpostors ? "every impression of every other finger" : "first impressions");
    if (genuine == 0 || impostor == 0) {
        std::printf("(no error rates: the folder needs two impressions of a finger and two fingers)\n");
        for (const ModeResult& m : report.modes) {
            std::printf("%-6s search: ", m.name.c_str());
            if (!m.genuine.empty()) std::printf("genuine mean %.1f, ", m.rates.genuineMean);
            if (!m.impostor.empty()) std::printf("impostor mean %.1f, ", m.rates.impostorMean);
            std::printf("%.4f ms per comparison\n", m.secondsPerComparison * 1000);
        }
        return;
    }
    std::printf("%-6s %7s %-18s %8s %8s %8s %8s %9s %9s\n", "search", "EER", " (interval)", "FMR100", "FMR1000",
                "ZeroFMR", "genuine", "impostor", "ms/match");
    for (const ModeResult& m : report.modes) {
        const ErrorRates& r = m.rates;
        char interval[48];
        std::snprintf(interval, sizeof interval, " (%.2f%%-%.2f%%)", r.eerLow * 100, r.eerHigh * 100);
        std::printf("%-6s %6.2f%% %-18s %8s %8s %7.2f%% %8.1f %9.1f %9.4f\n", m.name.c_str(), r.eer * 100, interval,
                    percentOrNa(r.fmr100).c_str(), percentOrNa(r.fmr1000).c_str(), r.zeroFmr.fnmr * 100,
                    r.genuineMean, r.impostorMean, m.secondsPerComparison * 1000);
    }
    std::printf("\nscore thresholds (a comparison is accepted at score >= t):\n");
    std::printf("%-6s %7s %8s %8s %9s\n", "search", "EER", "FMR 1%", "FMR 0.1%", "FMR 0.01%");
    for (const ModeResult& m : report.modes) {
        const ErrorRates& r = m.rates;
        std::printf("%-6s %7d %8s %8s %9s\n", m.name.c_str(), r.eerThreshold, thresholdOrNa(r.fmr100).c_str(),
                    thresholdOrNa(r.fmr1000).c_str(), thresholdOrNa(r.fmr10000).c_str());
    }
    const ErrorRates& r = full->rates;
    if (!r.fmr100.supported || !r.fmr1000.supported || !r.fmr10000.supported) {
        const char* needed = !r.fmr100.supported ? "100" : !r.fmr1000.supported ? "1 000" : "10 000";
        const char* target = !r.fmr100.supported ? "1%" : !r.fmr1000.supported ? "0.1%" : "0.01%";
        std::printf("\nn/a: %zu impostor comparisons cannot measure an FMR of %s (that needs at least %s)%s\n",
                    impostor, target, needed,
                    report.allImpostors ? "" : "; --all-impostors compares every impression of every other finger");
    }
}

}  // namespace orvane::cli
