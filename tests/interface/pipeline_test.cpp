// The extraction pipeline end to end: stage images, the faster skeleton
// stages against their plain transcriptions on real prints, and the exports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../minutiae/reference.h"
#include "core/parameters.h"
#include "enhance/enhance.h"
#include "formats/bitmap.h"
#include "formats/feature_template.h"
#include "interface/diagnostics.h"
#include "interface/extraction.h"
#include "interface/stages.h"
#include "minutiae/cleanup.h"
#include "minutiae/detection.h"
#include "minutiae/thinning.h"
#include "orvane.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace orvane::test {
namespace {

struct Recorder : StageObserver {
    struct Image {
        std::string name;
        std::vector<uint8_t> pixels;
        int32_t width, height;
    };
    std::vector<Image> images;
    void stageImage(Stage stage, const uint8_t* plane, int32_t width, int32_t height) override {
        images.push_back({diagnosticFileName(stage), std::vector<uint8_t>(plane, plane + width * height), width, height});
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& i : images) out.push_back(i.name);
        return out;
    }
};

struct Print {
    std::string path;
    std::vector<uint8_t> pixels;
    int32_t width = 0, height = 0;
};

Print loadPrint(const std::string& path) {
    Print p;
    p.path = path;
    EXPECT_EQ(readBitmap(path.c_str(), nullptr, &p.width, &p.height), 0);
    p.pixels.resize(static_cast<size_t>(p.width * p.height));
    EXPECT_EQ(readBitmap(path.c_str(), p.pixels.data(), &p.width, &p.height), 0);
    return p;
}

// The first print of each folder.
std::vector<Print> somePrints() {
    std::vector<Print> out;
    std::string lastFolder;
    for (const auto& path : realPrints()) {
        const std::string folder = fs::path(path).parent_path().string();
        if (folder == lastFolder) continue;
        lastFolder = folder;
        out.push_back(loadPrint(path));
    }
    return out;
}

TEST(ExtractionPipeline, StageImagesInOrderAndFinalPlanes) {
    const auto prints = somePrints();
    if (prints.empty()) GTEST_SKIP() << "no real prints";
    const std::vector<std::string> allStages = {"0", "00", "1", "2", "3", "4", "5"};
    int extracted = 0;
    for (const auto& p : prints) {
        auto ws = makeWorkspace();
        ASSERT_EQ(setWorkspaceImage(*ws, p.pixels.data(), p.width, p.height), 0);
        Recorder recorder;
        const int32_t code = runExtractionPipeline(*ws, &recorder);
        if (code == ORVANE_E_EXTRACTION) {
            // A print that fails shows the stages it reached, in order: the
            // orientation image alone, or all of them when detection failed.
            const std::vector<std::string> names = recorder.names();
            EXPECT_TRUE(names == std::vector<std::string>{"0"} || names == allStages) << p.path;
            continue;
        }
        ASSERT_EQ(code, 0) << p.path;
        ++extracted;
        EXPECT_EQ(recorder.names(), allStages);
        for (const auto& image : recorder.images) {
            EXPECT_EQ(image.width, p.width);
            EXPECT_EQ(image.height, p.height);
        }
        // "5" is the cleaned skeleton, which detection leaves as it was.
        EXPECT_EQ(0, std::memcmp(recorder.images.back().pixels.data(), ws->imagePlane, p.pixels.size()));
        EXPECT_EQ(0, std::memcmp(recorder.images[1].pixels.data(), ws->maskPlane, p.pixels.size()));
        EXPECT_GE(ws->extractedSet.count, 8);
        EXPECT_LE(ws->extractedSet.count, 60);
        for (int32_t i = 0; i < ws->extractedSet.count; ++i) {
            const Minutia& m = ws->extractedSet.minutiae[i];
            EXPECT_TRUE(m.kind == 1 || m.kind == 2);
            EXPECT_GE(m.direction, 0);
            EXPECT_LT(m.direction, 360);
            for (int k = 0; k < 3; ++k) EXPECT_LT(m.ringOrientation[k], 180);
            if (i > 0) {
                EXPECT_LE(ws->extractedSet.minutiae[i - 1].kind, m.kind);
            }
        }
        // Without an observer the result is the same.
        auto quiet = makeWorkspace();
        setWorkspaceImage(*quiet, p.pixels.data(), p.width, p.height);
        ASSERT_EQ(runExtractionPipeline(*quiet, nullptr), 0);
        EXPECT_EQ(0, std::memcmp(&quiet->extractedSet, &ws->extractedSet, sizeof ws->extractedSet));
    }
    if (extracted == 0) GTEST_SKIP() << "none of the sampled prints extracts";
}

TEST(ExtractionPipeline, TooLittleForegroundStopsAfterTheOrientationImage) {
    std::vector<uint8_t> blank(320 * 240, 200);
    auto ws = makeWorkspace();
    ws->extractedSet.count = 3;
    ASSERT_EQ(setWorkspaceImage(*ws, blank.data(), 320, 240), 0);
    Recorder recorder;
    EXPECT_EQ(runExtractionPipeline(*ws, &recorder), 10400);
    EXPECT_EQ(recorder.names(), std::vector<std::string>{"0"});
    EXPECT_EQ(ws->extractedSet.count, 3);
}

// The skeleton stages as the library runs them, against the plain
// transcriptions, on every real print.
TEST(ExtractionPipeline, SkeletonStagesMatchPlainTranscriptionsOnRealPrints) {
    const auto paths = realPrints();
    if (paths.empty()) GTEST_SKIP() << "no real prints";
    auto fast = makeWorkspace();
    auto plain = makeWorkspace();
    int compared = 0;
    for (const auto& path : paths) {
        const Print p = loadPrint(path);
        ASSERT_EQ(setWorkspaceImage(*fast, p.pixels.data(), p.width, p.height), 0);
        // The library's stages up to the skeleton.
        bool segmented = true;
        for (const Stage stage : kExtractionStages) {
            if (stage == Stage::kThinning) break;
            segmented = runStage(*fast, stage) == kStageCompleted;
            if (!segmented) break;
        }
        if (!segmented) continue;
        std::memcpy(plain.get(), fast.get(), sizeof(Workspace));

        thinRidges(*fast);
        reference::thinImage(*plain, plain->imagePlane, plain->width, plain->height);
        ASSERT_EQ(0, std::memcmp(fast->imagePlane, plain->imagePlane, p.pixels.size())) << path;
        ASSERT_EQ(0, std::memcmp(fast->scratchPlane, plain->scratchPlane, p.pixels.size())) << path;

        cleanSkeleton(*fast, kMaxPieceLength);
        reference::cleanSkeleton(*plain, kMaxPieceLength);
        ASSERT_EQ(0, std::memcmp(fast->imagePlane, plain->imagePlane, p.pixels.size())) << path;

        std::memset(&fast->extractedSet, 0, sizeof fast->extractedSet);
        std::memset(&plain->extractedSet, 0, sizeof plain->extractedSet);
        ASSERT_EQ(detectMinutiae(*fast), reference::detectMinutiae(*plain)) << path;
        ASSERT_EQ(0, std::memcmp(&fast->extractedSet, &plain->extractedSet, sizeof fast->extractedSet)) << path;
        ASSERT_EQ(0, std::memcmp(fast->imagePlane, plain->imagePlane, p.pixels.size())) << path;
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

class ScopedDebugDir {
public:
    explicit ScopedDebugDir(const std::string& dir) {
        const char* old = std::getenv("ORVANE_DEBUG_DIR");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("ORVANE_DEBUG_DIR", dir.c_str(), 1);
    }
    ~ScopedDebugDir() {
        if (hadOld_) {
            setenv("ORVANE_DEBUG_DIR", old_.c_str(), 1);
        } else {
            unsetenv("ORVANE_DEBUG_DIR");
        }
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

std::vector<uint8_t> extract(const Print& p, int32_t* code) {
    std::vector<uint8_t> out(ORVANE_MAX_TEMPLATE_BYTES, 0xCD);
    int32_t length = -1;
    *code = Extract(p.width, p.height, p.pixels.data(), 0, out.data(), &length);
    if (*code != 0) return {};
    EXPECT_EQ(length, templateLength(out.data()));
    EXPECT_TRUE(isWellFormedTemplate(out.data()));
    out.resize(static_cast<size_t>(length));
    return out;
}

TEST(ExtractExport, DiagnosticFilesOnlyWithTheVariableAndNeverChangeTheTemplate) {
    const auto prints = somePrints();
    if (prints.empty()) GTEST_SKIP() << "no real prints";
    const Print& p = prints.front();
    unsetenv("ORVANE_DEBUG_DIR");
    int32_t code = -1;
    const auto plain = extract(p, &code);
    ASSERT_EQ(code, 0);

    const std::string dir = tempDir();
    {
        ScopedDebugDir debug(dir);
        EXPECT_EQ(extract(p, &code), plain);
        EXPECT_EQ(code, 0);
    }
    const char* names[] = {"0", "00", "1", "2", "3", "4", "5"};
    for (const char* name : names) {
        const std::string path = dir + "/" + name + ".bmp";
        int32_t w = 0, h = 0;
        ASSERT_EQ(readBitmap(path.c_str(), nullptr, &w, &h), 0) << path;
        EXPECT_EQ(w, p.width);
        EXPECT_EQ(h, p.height);
    }
    // The skeleton file holds only ridge and background.
    std::vector<uint8_t> skeleton(p.pixels.size());
    int32_t w = 0, h = 0;
    ASSERT_EQ(readBitmap((dir + "/5.bmp").c_str(), skeleton.data(), &w, &h), 0);
    for (uint8_t v : skeleton) ASSERT_TRUE(v == 0 || v == 255);

    // A directory that cannot be written changes nothing.
    {
        ScopedDebugDir debug(dir + "/missing/deeper");
        EXPECT_EQ(extract(p, &code), plain);
        EXPECT_EQ(code, 0);
    }
    EXPECT_FALSE(fs::exists(dir + "/missing"));

    // Too little foreground: only the orientation image is new.
    const std::string second = tempDir();
    {
        ScopedDebugDir debug(second);
        std::vector<uint8_t> blank(300 * 200, 255);
        uint8_t featureTemplate[ORVANE_MAX_TEMPLATE_BYTES];
        int32_t length = -1;
        EXPECT_EQ(Extract(300, 200, blank.data(), 0, featureTemplate, &length), ORVANE_E_EXTRACTION);
        EXPECT_EQ(length, -1);
    }
    EXPECT_TRUE(fs::exists(second + "/0.bmp"));
    EXPECT_FALSE(fs::exists(second + "/00.bmp"));
    EXPECT_FALSE(fs::exists(second + "/5.bmp"));
}

TEST(ExtractExport, FileAndMemoryGiveTheSameTemplate) {
    const auto prints = somePrints();
    if (prints.empty()) GTEST_SKIP() << "no real prints";
    unsetenv("ORVANE_DEBUG_DIR");
    int extracted = 0;
    for (const auto& p : prints) {
        int32_t code = -1;
        const auto fromMemory = extract(p, &code);
        std::vector<uint8_t> fromFile(ORVANE_MAX_TEMPLATE_BYTES);
        int32_t length = -1;
        if (code == ORVANE_E_EXTRACTION) {  // the file fails the same way and writes nothing
            EXPECT_EQ(ExtractEx(p.path.c_str(), 0, fromFile.data(), &length), ORVANE_E_EXTRACTION) << p.path;
            EXPECT_EQ(length, -1);
            continue;
        }
        ASSERT_EQ(code, 0) << p.path;
        ++extracted;
        ASSERT_EQ(ExtractEx(p.path.c_str(), 0, fromFile.data(), &length), 0);
        fromFile.resize(static_cast<size_t>(length));
        EXPECT_EQ(fromFile, fromMemory) << p.path;
        // The same print again gives the same template.
        EXPECT_EQ(extract(p, &code), fromMemory);

        // A null template: the extraction runs, then 10600.
        length = -1;
        EXPECT_EQ(Extract(p.width, p.height, p.pixels.data(), 0, nullptr, &length), ORVANE_E_NO_TEMPLATE);
        EXPECT_EQ(length, -1);

        // Matching a template with itself finds its minutiae.
        int32_t score = -1;
        EXPECT_EQ(VerifyMatch(fromMemory.data(), fromMemory.data(), &score, 0), 0);
        EXPECT_GT(score, 0);
    }
    if (extracted == 0) GTEST_SKIP() << "none of the sampled prints extracts";
}

TEST(QualityExport, PrintScoresAboveBlankFrame) {
    const auto prints = somePrints();
    if (prints.empty()) GTEST_SKIP() << "no real prints";
    std::vector<uint8_t> blank(320 * 240, 255);
    int32_t blankQuality = -1;
    ASSERT_EQ(GetQuality(blank.data(), 320, 240, &blankQuality), 0);
    EXPECT_GE(blankQuality, 0);
    for (const auto& p : prints) {
        int32_t quality = -1;
        ASSERT_EQ(GetQuality(p.pixels.data(), p.width, p.height, &quality), 0) << p.path;
        EXPECT_GT(quality, blankQuality) << p.path;
        EXPECT_LE(quality, 100);
        // Quality runs in the same workspace; extraction afterwards is unaffected.
        int32_t code = -1;
        const auto first = extract(p, &code);
        ASSERT_EQ(GetQuality(p.pixels.data(), p.width, p.height, &quality), 0);
        EXPECT_EQ(extract(p, &code), first);
    }
    int32_t untouched = -7;
    EXPECT_EQ(GetQuality(blank.data(), 641, 240, &untouched), ORVANE_E_IMAGE_SIZE);
    EXPECT_EQ(untouched, -7);
}

TEST(ExtractExport, RefusedSizes) {
    std::vector<uint8_t> image(641 * 481, 128);
    uint8_t featureTemplate[ORVANE_MAX_TEMPLATE_BYTES];
    int32_t length = -1;
    EXPECT_EQ(Extract(641, 100, image.data(), 0, featureTemplate, &length), ORVANE_E_IMAGE_SIZE);
    EXPECT_EQ(Extract(100, 481, image.data(), 0, featureTemplate, &length), ORVANE_E_IMAGE_SIZE);
    EXPECT_EQ(length, -1);

    // A valid bitmap 700 pixels wide: ExtractEx says it cannot load it.
    const std::string path = tempDir() + "/wide.bmp";
    ASSERT_EQ(writeBitmap(image.data(), 700, 100, path.c_str()), 0);
    EXPECT_EQ(ExtractEx(path.c_str(), 0, featureTemplate, &length), ORVANE_E_LOAD_IMAGE);
    EXPECT_EQ(ExtractEx((path + ".none").c_str(), 0, featureTemplate, &length), ORVANE_E_LOAD_IMAGE);
    EXPECT_EQ(length, -1);
}

TEST(ExtractExport, ArbitraryImagesGiveATemplateOrFailure) {
    // Noise, stripes and mixtures of random sizes: 0 with a well-formed
    // template of at most 60 minutiae, or 10400.
    std::mt19937 rng(99);
    for (int rep = 0; rep < 24; ++rep) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 640), h = 1 + static_cast<int32_t>(rng() % 480);
        std::vector<uint8_t> image(static_cast<size_t>(w * h));
        const double period = 6 + rng() % 6, angle = (rng() % 180) * 3.14159 / 180;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const double phase = (x * std::cos(angle) + y * std::sin(angle)) * 6.28318 / period;
                const int noise = static_cast<int>(rng() % 256);
                const int stripes = static_cast<int>(127.5 + 127.5 * std::sin(phase + 0.002 * x * y));
                image[static_cast<size_t>(y * w + x)] =
                    static_cast<uint8_t>(rep % 3 == 0   ? noise
                                         : rep % 3 == 1 ? stripes
                                                        : (noise + 3 * stripes) / 4);
            }
        std::vector<uint8_t> featureTemplate(ORVANE_MAX_TEMPLATE_BYTES + 16, 0xCD);
        int32_t length = -1;
        const int32_t code = Extract(w, h, image.data(), 0, featureTemplate.data(), &length);
        ASSERT_TRUE(code == 0 || code == ORVANE_E_EXTRACTION) << w << "x" << h << " code " << code;
        if (code == 0) {
            EXPECT_TRUE(isWellFormedTemplate(featureTemplate.data()));
            EXPECT_LE(length, ORVANE_MAX_TEMPLATE_BYTES);
            EXPECT_GE(featureTemplate[2], 8);
            EXPECT_EQ(featureTemplate[ORVANE_MAX_TEMPLATE_BYTES], 0xCD);
        } else {
            EXPECT_EQ(length, -1);
        }
    }
}

TEST(ExtractExport, TinyImagesFailCleanly) {
    // Images too small for a single scan position never crash and never
    // produce a template.
    const int32_t sizes[][2] = {{1, 1}, {3, 3}, {34, 34}, {1, 480}, {640, 1}, {40, 35}};
    for (const auto& s : sizes) {
        std::vector<uint8_t> image(static_cast<size_t>(s[0] * s[1]));
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>((i * 37) % 256);
        uint8_t featureTemplate[ORVANE_MAX_TEMPLATE_BYTES];
        int32_t length = -1;
        EXPECT_EQ(Extract(s[0], s[1], image.data(), 0, featureTemplate, &length), ORVANE_E_EXTRACTION)
            << s[0] << "x" << s[1];
        EXPECT_EQ(length, -1);
    }
}

}  // namespace
}  // namespace orvane::test
