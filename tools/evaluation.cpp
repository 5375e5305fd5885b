#include "evaluation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <utility>

#include "batch.h"
#include "common.h"
#include "image_input.h"
#include "match/matcher.h"
#include "plots.h"
#include "safe_write.h"

namespace fs = std::filesystem;

namespace orvane::cli {

namespace {

double mean(const std::vector<int32_t>& v) {
    if (v.empty()) return 0;
    double sum = 0;
    for (int32_t x : v) sum += x;
    return sum / static_cast<double>(v.size());
}

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

}  // namespace

std::vector<DetPoint> detCurve(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor) {
    std::vector<int32_t> g(genuine), im(impostor);
    std::sort(g.begin(), g.end());
    std::sort(im.begin(), im.end());
    std::vector<int32_t> thresholds;
    thresholds.reserve(g.size() + im.size() + 2);
    thresholds.push_back(0);
    for (int32_t s : g) thresholds.push_back(s + 1);
    for (int32_t s : im) thresholds.push_back(s + 1);
    std::sort(thresholds.begin(), thresholds.end());
    thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
    std::vector<DetPoint> curve;
    curve.reserve(thresholds.size());
    for (int32_t t : thresholds) {
        // accepted: score >= t
        const size_t gRejected = static_cast<size_t>(std::lower_bound(g.begin(), g.end(), t) - g.begin());
        const size_t iRejected = static_cast<size_t>(std::lower_bound(im.begin(), im.end(), t) - im.begin());
        DetPoint p;
        p.threshold = t;
        p.fnmr = g.empty() ? 0 : static_cast<double>(gRejected) / static_cast<double>(g.size());
        p.fmr = im.empty() ? 0 : static_cast<double>(im.size() - iRejected) / static_cast<double>(im.size());
        curve.push_back(p);
    }
    return curve;
}

ErrorRates computeErrorRates(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor) {
    ErrorRates r;
    r.genuineMean = mean(genuine);
    r.impostorMean = mean(impostor);
    const std::vector<DetPoint> curve = detCurve(genuine, impostor);
    r.fnmrAtFmr1 = r.fnmrAtFmr01 = r.fnmrAtFmr0 = 1.0;
    for (const DetPoint& p : curve) {
        if (p.fmr <= 0.01) r.fnmrAtFmr1 = std::min(r.fnmrAtFmr1, p.fnmr);
        if (p.fmr <= 0.001) r.fnmrAtFmr01 = std::min(r.fnmrAtFmr01, p.fnmr);
        if (p.fmr <= 0.0) r.fnmrAtFmr0 = std::min(r.fnmrAtFmr0, p.fnmr);
    }
    // FMR falls and FNMR rises with the threshold: find where they cross and
    // interpolate between the two points around the crossing.
    r.eer = 0;
    for (size_t i = 0; i < curve.size(); ++i) {
        const DetPoint& p = curve[i];
        if (p.fnmr < p.fmr) continue;
        r.eerThreshold = p.threshold;
        if (i == 0) {
            r.eer = (p.fmr + p.fnmr) / 2;
        } else {
            const DetPoint& q = curve[i - 1];
            const double before = q.fmr - q.fnmr;  // > 0
            const double after = p.fnmr - p.fmr;   // >= 0
            const double a = before / (before + after);
            r.eer = q.fmr + a * (p.fmr - q.fmr);
        }
        break;
    }
    return r;
}

EvaluationReport evaluateFolder(const std::string& folder, const EvaluationOptions& options) {
    EvaluationReport report;
    report.folder = folder;
    report.allImpostors = options.allImpostors;
    const std::vector<std::string> files = listFiles(folder, true);

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
    if (used.empty()) throw CliError(folder + ": no images named FINGER_IMPRESSION (.bmp .png .jpg .pgm .tif)");
    std::vector<Finger> fingers;
    for (auto& entry : byName) {
        Finger f = entry.second;
        std::sort(f.impressions.begin(), f.impressions.end(),
                  [](const auto& a, const auto& b) { return impressionBefore(a.first, b.first); });
        fingers.push_back(std::move(f));
    }
    report.fingers = static_cast<int32_t>(fingers.size());
    report.images = static_cast<int32_t>(used.size());

    const std::vector<ExtractionOutcome> outcomes = extractFiles(used, options.crop, true, "extracting");
    double extractionSeconds = 0, minutiae = 0, quality = 0;
    int32_t extracted = 0, rated = 0;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const ExtractionOutcome& o = outcomes[i];
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

void printReport(const EvaluationReport& report, bool json) {
    const ModeResult* full = report.modes.empty() ? nullptr : &report.modes[0];
    const size_t genuine = full ? full->genuine.size() : 0;
    const size_t impostor = full ? full->impostor.size() : 0;
    if (json) {
        std::printf("{\"folder\":%s,\"fingers\":%d,\"images\":%d,\"failedExtractions\":%d,\"fte\":%s,"
                    "\"meanMinutiae\":%s,\"meanQuality\":%s,\"msPerExtraction\":%s,\"impostorProtocol\":%s,"
                    "\"genuineComparisons\":%zu,\"impostorComparisons\":%zu,\"failedFiles\":[",
                    jsonString(report.folder).c_str(), report.fingers, report.images, report.failedExtractions,
                    jsonNumber(report.images ? double(report.failedExtractions) / report.images : 0).c_str(),
                    jsonNumber(report.meanMinutiae).c_str(), jsonNumber(report.meanQuality).c_str(),
                    jsonNumber(report.secondsPerExtraction * 1000).c_str(),
                    jsonString(report.allImpostors ? "all" : "first").c_str(), genuine, impostor);
        for (size_t i = 0; i < report.failedFiles.size(); ++i) {
            std::printf("%s%s", i ? "," : "", jsonString(report.failedFiles[i]).c_str());
        }
        std::printf("],\"modes\":[");
        for (size_t i = 0; i < report.modes.size(); ++i) {
            const ModeResult& m = report.modes[i];
            const bool rated = !m.genuine.empty() && !m.impostor.empty();
            auto rate = [&](double v) { return rated ? jsonNumber(v) : std::string("null"); };
            std::printf("%s{\"mode\":%s,\"eer\":%s,\"eerThreshold\":%d,\"fnmrAtFmr1\":%s,\"fnmrAtFmr01\":%s,"
                        "\"fnmrAtFmr0\":%s,\"genuineMean\":%s,\"impostorMean\":%s,\"msPerComparison\":%s}",
                        i ? "," : "", jsonString(m.name).c_str(), rate(m.rates.eer).c_str(),
                        m.rates.eerThreshold, rate(m.rates.fnmrAtFmr1).c_str(),
                        rate(m.rates.fnmrAtFmr01).c_str(), rate(m.rates.fnmrAtFmr0).c_str(),
                        jsonNumber(m.rates.genuineMean).c_str(), jsonNumber(m.rates.impostorMean).c_str(),
                        jsonNumber(m.secondsPerComparison * 1000).c_str());
        }
        std::printf("]}\n");
        return;
    }
    std::printf("%s: %d fingers, %d images\n", report.folder.c_str(), report.fingers, report.images);
    std::printf("extraction: %d failed (FTE %.1f%%, scored 0), %.1f minutiae and quality %.0f on average, "
                "%.2f ms per image\n",
                report.failedExtractions, report.images ? 100.0 * report.failedExtractions / report.images : 0.0,
                report.meanMinutiae, report.meanQuality, report.secondsPerExtraction * 1000);
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
        std::printf("(no error rates: the folder needs two impressions of a finger and two fingers)\n\n");
    }
    std::printf("%-6s %7s %10s %12s %10s %9s %9s %10s\n", "search", "EER", "FNMR@1%", "FNMR@0.1%", "FNMR@0",
                "genuine", "impostor", "ms/match");
    for (const ModeResult& m : report.modes) {
        if (m.genuine.empty() || m.impostor.empty()) {
            std::printf("%-6s %7s %10s %12s %10s %9.1f %9.1f %10.4f\n", m.name.c_str(), "-", "-", "-", "-",
                        m.rates.genuineMean, m.rates.impostorMean, m.secondsPerComparison * 1000);
            continue;
        }
        std::printf("%-6s %6.2f%% %9.2f%% %11.2f%% %9.2f%% %9.1f %9.1f %10.4f\n", m.name.c_str(),
                    m.rates.eer * 100, m.rates.fnmrAtFmr1 * 100, m.rates.fnmrAtFmr01 * 100,
                    m.rates.fnmrAtFmr0 * 100, m.rates.genuineMean, m.rates.impostorMean,
                    m.secondsPerComparison * 1000);
    }
}

}  // namespace orvane::cli
