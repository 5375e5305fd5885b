#include "commands.h"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "batch.h"
#include "common.h"
#include "evaluation.h"
#include "formats/feature_template.h"
#include "image_input.h"
#include "interface/extraction.h"
#include "match/matcher.h"
#include "plots.h"
#include "safe_write.h"
#include "stage_files.h"
#include "synth.h"

namespace fs = std::filesystem;

namespace orvane::cli {

namespace {

bool json() { return settings().json; }

void makeFolder(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) throw CliError(dir + ": cannot create folder");
}

std::string describeExtraction(const std::string& path, const ExtractionOutcome& o, const std::string& saved) {
    if (json()) {
        std::string s = "{\"image\":" + jsonString(path) + ",\"result\":" + std::to_string(o.code < 0 ? 10100 : o.code);
        s += ",\"resultText\":" + jsonString(o.ok() ? resultCodeText(0) : o.message);
        if (o.ok()) {
            s += ",\"minutiae\":" + std::to_string(o.minutiaCount()) +
                 ",\"templateBytes\":" + std::to_string(o.featureTemplate.size()) +
                 ",\"ms\":" + jsonNumber(o.seconds * 1000);
        }
        if (!saved.empty()) s += ",\"template\":" + jsonString(saved);
        return s + "}";
    }
    if (!o.ok()) return path + ": failed, " + o.message;
    char buf[160];
    std::snprintf(buf, sizeof buf, ": %d minutiae, template %zu bytes, %.1f ms, result 0 (success)",
                  o.minutiaCount(), o.featureTemplate.size(), o.seconds * 1000);
    return path + buf + (saved.empty() ? "" : " -> " + saved);
}

}  // namespace

int runExtract(const Args& args) {
    Options opt(args, {"-o", "--output", "--out-dir", "--debug-dir"}, {"--crop"});
    const auto& inputs = opt.positional();
    if (inputs.empty()) throw UsageError("extract needs at least one image");
    const std::string output = opt.value("-o", opt.value("--output"));
    const std::string outDir = opt.value("--out-dir");
    const std::string debugDir = opt.value("--debug-dir");
    if (!output.empty() && inputs.size() > 1) throw UsageError("-o names one template; use --out-dir for several images");
    if (!debugDir.empty() && inputs.size() > 1) throw UsageError("--debug-dir takes a single image");
    if (!outDir.empty()) {
        std::map<std::string, std::string> byStem;
        for (const std::string& in : inputs) {
            auto [it, fresh] = byStem.emplace(fileStem(in), in);
            if (!fresh) {
                throw UsageError(it->second + " and " + in + " would both be saved as " + it->first +
                                 ".tpl; extract them into separate folders");
            }
        }
        makeFolder(outDir);
    }
    const bool crop = opt.flag("--crop");

    std::vector<ExtractionOutcome> outcomes;
    if (inputs.size() == 1) {
        std::unique_ptr<Workspace> ws = newWorkspace();
        std::unique_ptr<StageImageFiles> stageFiles;
        if (!debugDir.empty()) {
            makeFolder(debugDir);
            stageFiles = std::make_unique<StageImageFiles>(debugDir);
        }
        outcomes.push_back(extractFile(*ws, inputs[0], crop, stageFiles.get(), false));
        if (stageFiles) stageFiles->throwIfFailed();
        if (!outcomes[0].ok()) throw CliError(outcomes[0].message);
    } else {
        outcomes = extractFiles(inputs, crop, false, "extracting");
    }

    size_t failed = 0;
    if (json()) std::printf("%s", inputs.size() > 1 ? "[" : "");
    for (size_t i = 0; i < inputs.size(); ++i) {
        const ExtractionOutcome& o = outcomes[i];
        std::string saved;
        if (o.ok()) {
            if (!output.empty()) saved = output;
            if (!outDir.empty()) saved = (fs::path(outDir) / (fileStem(inputs[i]) + ".tpl")).string();
            if (!saved.empty()) saveTemplate(saved, o.featureTemplate);
        } else {
            ++failed;
        }
        const std::string line = describeExtraction(inputs[i], o, saved);
        if (json()) {
            std::printf("%s%s", i ? "," : "", line.c_str());
        } else {
            std::printf("%s\n", line.c_str());
        }
    }
    if (json()) std::printf("%s\n", inputs.size() > 1 ? "]" : "");
    if (!debugDir.empty() && !json()) std::printf("stage images in %s (0.bmp, 00.bmp, 1.bmp .. 5.bmp)\n", debugDir.c_str());
    if (failed) {
        throw CliError(std::to_string(failed) + " of " + std::to_string(inputs.size()) + " images failed");
    }
    return kExitOk;
}

int runMatch(const Args& args) {
    Options opt(args, {}, {"--quick", "--crop"});
    if (opt.positional().size() != 2) throw UsageError("match needs two prints or templates");
    std::unique_ptr<Workspace> ws = newWorkspace();
    const std::vector<uint8_t> a = templateOfFile(*ws, opt.positional()[0], opt.flag("--crop"));
    const std::vector<uint8_t> b = templateOfFile(*ws, opt.positional()[1], opt.flag("--crop"));
    const bool quick = opt.flag("--quick");
    int32_t score = 0;
    const int32_t code = verifyTemplates(a.data(), b.data(), &score, quick ? 1 : 0);
    if (code != 0) throw CliError(std::to_string(code) + ": " + resultCodeText(code));
    const char* mode = quick ? "quick" : "full";
    if (json()) {
        std::printf("{\"first\":%s,\"second\":%s,\"score\":%d,\"search\":\"%s\",\"result\":0,\"resultText\":\"success\"}\n",
                    jsonString(opt.positional()[0]).c_str(), jsonString(opt.positional()[1]).c_str(), score, mode);
    } else {
        std::printf("score %d (%s search, %zu and %zu minutiae), result 0 (success)\n", score, mode,
                    (a.size() - 4) / 7, (b.size() - 4) / 7);
    }
    return kExitOk;
}

int runQuality(const Args& args) {
    Options opt(args, {}, {"--crop"});
    const auto& inputs = opt.positional();
    if (inputs.empty()) throw UsageError("quality needs at least one image");
    struct Rating {
        int32_t quality = -1;
        std::string error;
    };
    std::vector<Rating> ratings(inputs.size());
    const bool crop = opt.flag("--crop");
    parallelFor(inputs.size(), "rating", [&](size_t i, Workspace& ws) {
        try {
            const GreyImage image = loadGreyImage(inputs[i], crop);
            int32_t q = -1;
            const int32_t code = measureQuality(ws, image.pixels.data(), image.width, image.height, &q);
            if (code != 0) {
                ratings[i].error = inputs[i] + ": " + std::to_string(code) + ": " + resultCodeText(code);
            } else {
                ratings[i].quality = q;
            }
        } catch (const CliError& e) {
            ratings[i].error = e.what();
        }
    });
    size_t failed = 0;
    if (json()) std::printf("[");
    for (size_t i = 0; i < inputs.size(); ++i) {
        const Rating& r = ratings[i];
        if (!r.error.empty()) ++failed;
        if (json()) {
            std::printf("%s{\"image\":%s,", i ? "," : "", jsonString(inputs[i]).c_str());
            if (r.error.empty()) {
                std::printf("\"quality\":%d}", r.quality);
            } else {
                std::printf("\"error\":%s}", jsonString(r.error).c_str());
            }
        } else if (r.error.empty()) {
            std::printf("%s: quality %d\n", inputs[i].c_str(), r.quality);
        } else if (inputs.size() > 1) {
            std::printf("%s: failed\n", inputs[i].c_str());
        }
    }
    if (json()) std::printf("]\n");
    if (failed == 1 && inputs.size() == 1) throw CliError(ratings[0].error);
    if (failed) {
        for (const Rating& r : ratings) {
            if (!r.error.empty()) {
                std::fflush(stdout);
                throw CliError(r.error + (failed > 1 ? " (and " + std::to_string(failed - 1) + " more)" : ""));
            }
        }
    }
    return kExitOk;
}

int runIdentify(const Args& args) {
    Options opt(args, {"--top"}, {"--quick", "--crop"});
    if (opt.positional().size() != 2) throw UsageError("identify needs a probe and a gallery folder");
    const std::string probePath = opt.positional()[0];
    const std::string galleryDir = opt.positional()[1];
    const long top = opt.integer("--top", 10, 1, 1000000);
    const bool crop = opt.flag("--crop");
    const int32_t flag = opt.flag("--quick") ? 1 : 0;

    std::unique_ptr<Workspace> ws = newWorkspace();
    const std::vector<uint8_t> probe = templateOfFile(*ws, probePath, crop);
    ws.reset();

    const std::vector<std::string> files = listFiles(galleryDir, false);
    struct Entry {
        std::string path;
        std::vector<uint8_t> featureTemplate;
        std::string error;
        int32_t score = 0;
    };
    std::vector<Entry> gallery(files.size());
    const auto loadStart = std::chrono::steady_clock::now();
    size_t images = 0;
    for (const std::string& f : files) images += hasImageExtension(f) ? 1 : 0;
    parallelFor(files.size(), images ? "enrolling" : "loading", [&](size_t i, Workspace& w) {
        gallery[i].path = files[i];
        try {
            gallery[i].featureTemplate = templateOfFile(w, files[i], crop);
        } catch (const CliError& e) {
            gallery[i].error = e.what();
        }
    });
    const double loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
    std::vector<Entry*> usable;
    size_t skipped = 0;
    for (Entry& e : gallery) {
        if (e.error.empty()) {
            usable.push_back(&e);
        } else {
            ++skipped;
            if (!settings().quiet) std::fprintf(stderr, "orvane: identify: skipped %s\n", e.error.c_str());
        }
    }
    if (usable.empty()) throw CliError(galleryDir + ": no usable templates or prints in the gallery");

    constexpr size_t kBlock = 256;
    const size_t blocks = (usable.size() + kBlock - 1) / kBlock;
    const auto matchStart = std::chrono::steady_clock::now();
    parallelFor(blocks, "searching", [&](size_t block, Workspace&) {
        const size_t end = std::min(usable.size(), (block + 1) * kBlock);
        for (size_t i = block * kBlock; i < end; ++i) {
            int32_t score = 0;
            if (verifyTemplates(probe.data(), usable[i]->featureTemplate.data(), &score, flag) == 0) {
                usable[i]->score = score;
            }
        }
    });
    const double matchSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - matchStart).count();
    std::stable_sort(usable.begin(), usable.end(), [](const Entry* a, const Entry* b) { return a->score > b->score; });
    const size_t shown = std::min(usable.size(), static_cast<size_t>(top));
    const double rate = matchSeconds > 0 ? usable.size() / matchSeconds : 0;

    if (json()) {
        std::printf("{\"probe\":%s,\"gallery\":%s,\"searched\":%zu,\"skipped\":%zu,\"search\":\"%s\","
                    "\"seconds\":%s,\"comparisonsPerSecond\":%s,\"loadSeconds\":%s,\"results\":[",
                    jsonString(probePath).c_str(), jsonString(galleryDir).c_str(), usable.size(), skipped,
                    flag ? "quick" : "full", jsonNumber(matchSeconds).c_str(), jsonNumber(rate).c_str(),
                    jsonNumber(loadSeconds).c_str());
        for (size_t i = 0; i < shown; ++i) {
            std::printf("%s{\"rank\":%zu,\"score\":%d,\"entry\":%s}", i ? "," : "", i + 1, usable[i]->score,
                        jsonString(usable[i]->path).c_str());
        }
        std::printf("]}\n");
    } else {
        std::printf("%-5s %7s  %s\n", "rank", "score", "gallery entry");
        for (size_t i = 0; i < shown; ++i) {
            std::printf("%-5zu %7d  %s\n", i + 1, usable[i]->score, usable[i]->path.c_str());
        }
        const int threads = std::min(workerCount(), static_cast<int>(blocks));
        std::printf("searched %zu entries (%s search) in %.3f s: %.0f comparisons/s on %d thread%s",
                    usable.size(), flag ? "quick" : "full", matchSeconds, rate, threads, threads == 1 ? "" : "s");
        if (images) std::printf("; gallery read in %.2f s", loadSeconds);
        std::printf("\n");
    }
    return kExitOk;
}

int runEval(const Args& args) {
    Options opt(args, {"--plot"}, {"--all-impostors", "--crop"});
    if (opt.positional().size() != 1) throw UsageError("eval needs one folder of prints");
    EvaluationOptions options;
    options.allImpostors = opt.flag("--all-impostors");
    options.crop = opt.flag("--crop");
    options.plotPath = opt.value("--plot");
    const EvaluationReport report = evaluateFolder(opt.positional()[0], options);
    printReport(report, json());
    if (!options.plotPath.empty() && !json()) std::printf("\npicture: %s\n", options.plotPath.c_str());
    return kExitOk;
}

namespace {
// Keeps a copy of the cleaned skeleton as the pipeline passes it on.
class SkeletonGrabber : public StageObserver {
public:
    void stageImage(const char* name, const uint8_t* plane, int32_t width, int32_t height) override {
        if (std::strcmp(name, "5") != 0 || width < 1 || height < 1) return;
        skeleton.width = width;
        skeleton.height = height;
        skeleton.pixels.assign(plane, plane + static_cast<size_t>(width) * static_cast<size_t>(height));
    }
    GreyImage skeleton;
};
}  // namespace

int runDraw(const Args& args) {
    Options opt(args, {"-o", "--output", "--scale"}, {"--skeleton", "--crop"});
    if (opt.positional().size() != 1) throw UsageError("draw needs one image");
    const std::string output = opt.value("-o", opt.value("--output"));
    if (output.empty()) throw UsageError("draw needs -o OUT.png");
    const int scale = static_cast<int>(opt.integer("--scale", 2, 1, 8));
    const std::string input = opt.positional()[0];
    const GreyImage image = loadGreyImage(input, opt.flag("--crop"));
    std::unique_ptr<Workspace> ws = newWorkspace();
    SkeletonGrabber grabber;
    const ExtractionOutcome o = extractImage(*ws, image, &grabber, false);
    if (!o.ok()) throw CliError(input + ": " + o.message);
    MinutiaSet set{};
    if (unpackTemplate(o.featureTemplate.data(), &set) != 0) throw CliError(input + ": template damaged");
    const bool withSkeleton = opt.flag("--skeleton") && grabber.skeleton.width == image.width;
    writeFileSafely(output, [&](const std::string& file) {
        drawMinutiaePicture(file, image, withSkeleton ? &grabber.skeleton : nullptr, set, scale);
        return true;
    });
    int endings = 0;
    for (int32_t i = 0; i < set.count; ++i) endings += set.minutiae[i].kind == kEnding ? 1 : 0;
    if (json()) {
        std::printf("{\"image\":%s,\"picture\":%s,\"minutiae\":%d,\"endings\":%d,\"bifurcations\":%d}\n",
                    jsonString(input).c_str(), jsonString(output).c_str(), set.count, endings, set.count - endings);
    } else {
        std::printf("%s: %d minutiae (%d endings as red circles, %d bifurcations as blue squares) -> %s\n",
                    input.c_str(), set.count, endings, set.count - endings, output.c_str());
    }
    return kExitOk;
}

int runSynth(const Args& args) {
    Options opt(args, {"--fingers", "--impressions", "--seed", "--width", "--height"}, {});
    if (opt.positional().size() != 1) throw UsageError("synth needs one output folder");
    SynthOptions s;
    s.fingers = static_cast<int>(opt.integer("--fingers", 10, 1, 10000));
    s.impressions = static_cast<int>(opt.integer("--impressions", 8, 1, 100));
    s.seed = static_cast<uint32_t>(opt.integer("--seed", 1, 0, 4294967295L));
    s.width = static_cast<int>(opt.integer("--width", 320, 160, 640));
    s.height = static_cast<int>(opt.integer("--height", 400, 160, 480));
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> files = synthesiseDatabase(opt.positional()[0], s);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (json()) {
        std::printf("{\"folder\":%s,\"fingers\":%d,\"impressions\":%d,\"seed\":%u,\"images\":%zu,\"seconds\":%s}\n",
                    jsonString(opt.positional()[0]).c_str(), s.fingers, s.impressions, s.seed, files.size(),
                    jsonNumber(seconds).c_str());
    } else {
        std::printf("wrote %zu prints (%d fingers x %d impressions, %d x %d, seed %u) to %s in %.1f s\n",
                    files.size(), s.fingers, s.impressions, s.width, s.height, s.seed, opt.positional()[0].c_str(),
                    seconds);
    }
    return kExitOk;
}

int runDemo(const Args& args) {
    Options opt(args, {"--dir", "--fingers", "--impressions", "--seed"}, {});
    if (!opt.positional().empty()) throw UsageError("demo takes no arguments");
    std::string dir = opt.value("--dir");
    if (dir.empty()) {
        std::string pattern = (fs::temp_directory_path() / "orvane-demo-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) throw CliError("cannot create a temporary folder");
        dir = buf.data();
    }
    SynthOptions s;
    s.fingers = static_cast<int>(opt.integer("--fingers", 10, 2, 1000));
    s.impressions = static_cast<int>(opt.integer("--impressions", 4, 2, 100));
    s.seed = static_cast<uint32_t>(opt.integer("--seed", 2024, 0, 4294967295L));
    const auto start = std::chrono::steady_clock::now();
    const std::string prints = (fs::path(dir) / "prints").string();
    const std::vector<std::string> files = synthesiseDatabase(prints, s);
    const double synthSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!json()) {
        std::printf("synthesised %zu prints (%d fingers x %d impressions) in %s (%.1f s)\n\n", files.size(),
                    s.fingers, s.impressions, prints.c_str(), synthSeconds);
    }
    EvaluationOptions options;
    options.allImpostors = true;
    options.plotPath = (fs::path(dir) / "eval.png").string();
    const EvaluationReport report = evaluateFolder(prints, options);
    printReport(report, json());
    if (!json()) {
        const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("\npicture: %s\n", options.plotPath.c_str());
        std::printf("done in %.1f s. Next: orvane draw %s -o minutiae.png --skeleton\n", total, files[0].c_str());
    }
    return kExitOk;
}

}  // namespace orvane::cli
