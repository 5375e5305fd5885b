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
#include "orvane.h"
#include "evaluation.h"
#include "gallery_commands.h"
#include "formats/feature_template.h"
#include "image_input.h"
#include "interface/extraction.h"
#include "plots.h"
#include "print_window.h"
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

// One image's extraction: a JSON object, or a line of text.
std::string describeExtraction(const std::string& path, const ExtractionOutcome& o, const std::string& saved) {
    if (json()) {
        std::string s = "{\"image\":" + jsonString(path) + ",\"result\":" + std::to_string(o.code < 0 ? ORVANE_E_LOAD_IMAGE : o.code);
        s += ",\"resultText\":" + jsonString(o.ok() ? resultCodeText(ORVANE_OK) : o.message);
        if (o.ok()) {
            s += ",\"minutiae\":" + std::to_string(o.minutiaCount()) +
                 ",\"templateBytes\":" + std::to_string(o.featureTemplate.size()) +
                 ",\"printCoverage\":" + jsonNumber(o.printCoverage) + ",\"ms\":" + jsonNumber(o.seconds * 1000);
        }
        if (o.cropped) s += ",\"window\":" + windowJson(o.window);
        if (!o.warning.empty()) s += ",\"warning\":" + jsonString(o.warning);
        if (!saved.empty()) s += ",\"template\":" + jsonString(saved);
        return s + "}";
    }
    if (!o.ok()) return o.message;  // starts with the path
    char buf[160];
    std::snprintf(buf, sizeof buf, ": %d minutiae, template %zu bytes, %.1f ms, result 0 (success)",
                  o.minutiaCount(), o.featureTemplate.size(), o.seconds * 1000);
    return path + buf + (o.cropped ? ", " + windowText(o.window) : "") + (saved.empty() ? "" : " -> " + saved);
}

}  // namespace

int runExtract(const Args& args) {
    Options opt(args, {"-o", "--output", "--out-dir", "--debug-dir", "--crop"}, {});
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
    const CropMode crop = cropOption(opt);

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
    std::string items;
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
            items += (i ? "," : "") + line;
        } else {
            std::printf("%s\n", line.c_str());
            if (!o.warning.empty()) warn("extract", inputs[i] + ": " + o.warning);
        }
    }
    if (json()) {
        emitJson("{\"command\":\"extract\",\"images\":[" + items + "],\"failed\":" + std::to_string(failed) +
                 (debugDir.empty() ? "" : ",\"stageImages\":" + jsonString(debugDir)) + "}");
    }
    if (!debugDir.empty() && !json()) std::printf("stage images in %s (0.bmp, 00.bmp, 1.bmp .. 5.bmp)\n", debugDir.c_str());
    if (failed) {
        throw CliError(std::to_string(failed) + " of " + std::to_string(inputs.size()) + " images failed");
    }
    return kExitOk;
}

int runMatch(const Args& args) {
    Options opt(args, {"--crop"}, {"--quick"});
    if (opt.positional().size() != 2) throw UsageError("match needs two prints or templates: PROBE REFERENCE");
    std::unique_ptr<Workspace> ws = newWorkspace();
    const std::vector<uint8_t> a = templateOfFile(*ws, opt.positional()[0], cropOption(opt));
    const std::vector<uint8_t> b = templateOfFile(*ws, opt.positional()[1], cropOption(opt));
    const bool quick = opt.flag("--quick");
    int32_t score = 0;
    const int32_t code = VerifyMatch(a.data(), b.data(), &score, quick ? 1 : 0);
    if (code != 0) throw CliError(resultCodeWithText(code));
    const char* mode = quick ? "quick" : "full";
    if (json()) {
        emitJson("{\"command\":\"match\",\"probe\":" + jsonString(opt.positional()[0]) +
                 ",\"reference\":" + jsonString(opt.positional()[1]) + ",\"score\":" + std::to_string(score) +
                 ",\"search\":\"" + mode + "\",\"result\":0,\"resultText\":\"success\"}");
    } else {
        std::printf("score %d (%s search, %zu and %zu minutiae), result 0 (success)\n", score, mode,
                    (a.size() - 4) / 7, (b.size() - 4) / 7);
    }
    return kExitOk;
}

int runQuality(const Args& args) {
    Options opt(args, {"--crop"}, {});
    const auto& inputs = opt.positional();
    if (inputs.empty()) throw UsageError("quality needs at least one image");
    // The extraction runs too, for its warnings: quality alone measures only
    // how much of the frame the print covers.
    const std::vector<ExtractionOutcome> outcomes = extractFiles(inputs, cropOption(opt), true, "rating");
    size_t failed = 0;
    std::string items, firstError;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const ExtractionOutcome& o = outcomes[i];
        const bool rated = o.quality >= 0;
        std::string warning = o.warning;
        if (rated && !o.ok()) warning = o.message;  // the print was rated but gives no template
        if (!rated) {
            ++failed;
            if (firstError.empty()) firstError = o.message;
        }
        if (json()) {
            items += (i ? ",{" : "{") + std::string("\"image\":") + jsonString(inputs[i]);
            items += rated ? ",\"quality\":" + std::to_string(o.quality) : ",\"error\":" + jsonString(o.message);
            if (rated) items += ",\"printCoverage\":" + jsonNumber(o.printCoverage);
            if (rated && o.ok()) items += ",\"minutiae\":" + std::to_string(o.minutiaCount());
            if (o.cropped) items += ",\"window\":" + windowJson(o.window);
            if (!warning.empty()) items += ",\"warning\":" + jsonString(warning);
            items += "}";
        } else if (rated) {
            std::printf("%s: quality %d%s\n", inputs[i].c_str(), o.quality,
                        o.cropped ? (", " + windowText(o.window)).c_str() : "");
            if (!warning.empty()) warn("quality", (o.ok() ? inputs[i] + ": " : "") + warning);
        } else if (inputs.size() > 1) {
            std::printf("%s\n", o.message.c_str());
        }
    }
    if (json()) {
        emitJson("{\"command\":\"quality\",\"images\":[" + items + "],\"failed\":" + std::to_string(failed) + "}");
    }
    if (failed == 1 && inputs.size() == 1) throw CliError(firstError);
    if (failed) {
        throw CliError(std::to_string(failed) + " of " + std::to_string(inputs.size()) + " images could not be rated");
    }
    return kExitOk;
}

int runEval(const Args& args) {
    Options opt(args, {"--plot", "--scores", "--crop"}, {"--all-impostors"});
    if (opt.positional().size() != 1) throw UsageError("eval needs one folder of prints");
    EvaluationOptions options;
    options.allImpostors = opt.flag("--all-impostors");
    options.crop = cropOption(opt);
    options.plotPath = opt.value("--plot");
    options.scoresPath = opt.value("--scores");
    if (!options.plotPath.empty()) checkPictureFormat(options.plotPath);
    const EvaluationReport report = evaluateFolder(opt.positional()[0], options);
    printReport(report, json());
    if (!options.plotPath.empty() && !json()) std::printf("\npicture: %s\n", options.plotPath.c_str());
    if (!options.scoresPath.empty() && !json()) std::printf("every comparison: %s\n", options.scoresPath.c_str());
    return kExitOk;
}

namespace {
// Keeps a copy of the cleaned skeleton as the pipeline passes it on.
class SkeletonGrabber : public StageObserver {
public:
    void stageImage(Stage stage, const uint8_t* plane, int32_t width, int32_t height) override {
        if (stage != Stage::kSkeletonCleanup || width < 1 || height < 1) return;
        skeleton.width = width;
        skeleton.height = height;
        skeleton.pixels.assign(plane, plane + static_cast<size_t>(width) * static_cast<size_t>(height));
    }
    GreyImage skeleton;
};
}  // namespace

int runDraw(const Args& args) {
    Options opt(args, {"-o", "--output", "--scale", "--crop"}, {"--skeleton"});
    if (opt.positional().size() != 1) throw UsageError("draw needs one image");
    const std::string output = opt.value("-o", opt.value("--output"));
    if (output.empty()) throw UsageError("draw needs -o OUT.png (or .svg, .pdf)");
    checkPictureFormat(output);
    const int scale = static_cast<int>(opt.integer("--scale", 2, 1, 8));
    const std::string input = opt.positional()[0];
    const GreyImage image = loadGreyImage(input, cropOption(opt));
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
        emitJson("{\"command\":\"draw\",\"image\":" + jsonString(input) + ",\"picture\":" + jsonString(output) +
                 ",\"minutiae\":" + std::to_string(set.count) + ",\"endings\":" + std::to_string(endings) +
                 ",\"bifurcations\":" + std::to_string(set.count - endings) +
                 (image.cropped ? ",\"window\":" + windowJson(image.window) : std::string()) + "}");
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
        emitJson("{\"command\":\"synth\",\"folder\":" + jsonString(opt.positional()[0]) +
                 ",\"fingers\":" + std::to_string(s.fingers) + ",\"impressions\":" + std::to_string(s.impressions) +
                 ",\"seed\":" + std::to_string(s.seed) + ",\"images\":" + std::to_string(files.size()) +
                 ",\"seconds\":" + jsonNumber(seconds) + "}");
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
    if (json()) {
        const std::string galleryPart = demoGallery(dir, files);
        printReport(report, true, "demo", galleryPart.empty() ? "" : ",\"gallery\":" + galleryPart);
    } else {
        printReport(report, false);
        demoGallery(dir, files);
        const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("\npicture: %s\n", options.plotPath.c_str());
        std::printf("done in %.1f s. Next: orvane draw %s -o minutiae.png --skeleton\n", total, files[0].c_str());
    }
    return kExitOk;
}

}  // namespace orvane::cli
