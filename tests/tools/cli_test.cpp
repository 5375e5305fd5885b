// Drives the orvane program end to end on synthetic prints.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <tiffio.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/feature_template.h"
#include "orvane.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using orvane::test::readFile;
using orvane::test::tempDir;
using orvane::test::writeFile;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs orvane with the given arguments; stdout and stderr captured apart.
CliRun orvane(const std::vector<std::string>& args) {
    static int counter = 0;
    const std::string errPath = tempDir() + "/stderr" + std::to_string(++counter);
    std::string cmd = quote(ORVANE_CLI_PATH);
    for (const std::string& a : args) cmd += " " + quote(a);
    cmd += " 2>" + quote(errPath) + " </dev/null";
    CliRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int raw = pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
    const std::vector<uint8_t> err = readFile(errPath);
    r.err.assign(err.begin(), err.end());
    return r;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<uint8_t> extractEx(const std::string& path, int32_t* code) {
    std::vector<uint8_t> t(ORVANE_MAX_TEMPLATE_BYTES, 0);
    int32_t length = 0;
    *code = ExtractEx(path.c_str(), 0, t.data(), &length);
    t.resize(*code == 0 ? static_cast<size_t>(length) : 0);
    return t;
}

struct Grey {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;  // library row order (bottom row of the picture first)
};

Grey loadFinger(const std::string& path) {
    Grey g;
    EXPECT_EQ(LoadFinger(path.c_str(), nullptr, &g.width, &g.height), 0);
    g.pixels.resize(static_cast<size_t>(g.width) * g.height);
    EXPECT_EQ(LoadFinger(path.c_str(), g.pixels.data(), &g.width, &g.height), 0);
    return g;
}

// The picture's rows top first, as PNG, PGM and TIFF store them.
std::vector<uint8_t> topDown(const Grey& g) {
    std::vector<uint8_t> rows(g.pixels.size());
    for (int32_t y = 0; y < g.height; ++y) {
        std::copy_n(&g.pixels[static_cast<size_t>(g.height - 1 - y) * g.width], g.width,
                    &rows[static_cast<size_t>(y) * g.width]);
    }
    return rows;
}

void writePnm(const std::string& path, const Grey& g, bool colour) {
    std::string header = (colour ? "P6\n" : "P5\n") + std::to_string(g.width) + " " + std::to_string(g.height) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (uint8_t v : topDown(g)) {
        for (int c = 0; c < (colour ? 3 : 1); ++c) bytes.push_back(v);
    }
    writeFile(path, bytes);
}

void writeTiff(const std::string& path, const Grey& g) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(g.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(g.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<uint8_t> rows = topDown(g);
    for (int32_t y = 0; y < g.height; ++y) {
        ASSERT_EQ(TIFFWriteScanline(tif, &rows[static_cast<size_t>(y) * g.width], static_cast<uint32_t>(y), 0), 1);
    }
    TIFFClose(tif);
}

// Width and height from a PNG header.
std::pair<uint32_t, uint32_t> pngSize(const std::string& path) {
    const std::vector<uint8_t> b = readFile(path);
    if (b.size() < 24 || b[1] != 'P' || b[2] != 'N' || b[3] != 'G') return {0, 0};
    auto be = [&](size_t i) { return uint32_t(b[i]) << 24 | uint32_t(b[i + 1]) << 16 | uint32_t(b[i + 2]) << 8 | b[i + 3]; };
    return {be(16), be(20)};
}

class OrvaneCli : public ::testing::Test {
protected:
    // Three fingers, three impressions each, made once for all tests.
    // CTest runs every test in a process of its own, so the prints are kept
    // beside the test program and made again only when the program changes.
    static void SetUpTestSuite() {
        std::error_code ec;
        const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
        const fs::path cache = exe.parent_path() / "cli_test_prints";
        const auto tool = fs::last_write_time(ORVANE_CLI_PATH, ec);
        const std::string stamp =
            std::to_string(tool.time_since_epoch().count()) + " " + std::to_string(fs::file_size(ORVANE_CLI_PATH, ec));
        const std::vector<uint8_t> stored = readFile((cache / ".stamp").string());
        if (!exe.empty() && std::string(stored.begin(), stored.end()) == stamp) {
            db_ = new std::string(cache.string());
        } else {
            db_ = new std::string(tempDir() + "/db");
            const CliRun r = orvane({"synth", *db_, "--fingers", "3", "--impressions", "3", "--seed", "7"});
            ASSERT_EQ(r.status, 0) << r.err;
            if (!exe.empty()) {
                // Published whole by a rename; a process that loses a race keeps its own copy.
                const fs::path fresh = cache.string() + "." + std::to_string(getpid());
                fs::copy(*db_, fresh, ec);
                writeFile((fresh / ".stamp").string(), std::vector<uint8_t>(stamp.begin(), stamp.end()));
                const std::vector<uint8_t> now = readFile((cache / ".stamp").string());
                if (std::string(now.begin(), now.end()) != stamp) {
                    fs::remove_all(cache, ec);
                    fs::rename(fresh, cache, ec);
                }
                fs::remove_all(fresh, ec);  // left only when another process published first
            }
        }
        int32_t code = -1;
        extractEx(print(1, 1), &code);
        extractionBuilt_ = code != ORVANE_E_EXTRACTION;
    }
    void SetUp() override {
        // Until the extraction stages are in the library every print gives 10400.
        if (needsExtraction_ && !extractionBuilt_) GTEST_SKIP() << "the library's extraction is not built yet";
    }
    static void TearDownTestSuite() {
        delete db_;
        db_ = nullptr;
    }
    static std::string print(int finger, int impression) {
        return *db_ + "/00" + std::to_string(finger) + "_" + std::to_string(impression) + ".bmp";
    }
    static std::vector<std::string> allPrints() {
        std::vector<std::string> v;
        for (int f = 1; f <= 3; ++f) {
            for (int i = 1; i <= 3; ++i) v.push_back(print(f, i));
        }
        return v;
    }
    static std::string* db_;
    static bool extractionBuilt_;
    bool needsExtraction_ = true;
};
std::string* OrvaneCli::db_ = nullptr;
bool OrvaneCli::extractionBuilt_ = false;

// Tests that need no working extraction.
class OrvaneCliBasics : public OrvaneCli {
protected:
    OrvaneCliBasics() { needsExtraction_ = false; }
};

TEST_F(OrvaneCliBasics, SynthWritesNamedEightBitBitmapsDeterministically) {
    for (const std::string& p : allPrints()) {
        const Grey g = loadFinger(p);
        EXPECT_EQ(g.width, 320);
        EXPECT_EQ(g.height, 400);
        // A print, not a blank frame: dark ridges and light background.
        const auto [lo, hi] = std::minmax_element(g.pixels.begin(), g.pixels.end());
        EXPECT_LT(*lo, 80);
        EXPECT_GT(*hi, 180);
    }
    const std::string again = tempDir();
    ASSERT_EQ(orvane({"synth", again, "--fingers", "1", "--impressions", "2", "--seed", "7"}).status, 0);
    EXPECT_EQ(readFile(again + "/001_1.bmp"), readFile(print(1, 1)));
    EXPECT_NE(readFile(again + "/001_2.bmp"), readFile(print(1, 1)));  // impressions differ
    EXPECT_EQ(std::distance(fs::directory_iterator(again), fs::directory_iterator()), 2);
}

TEST_F(OrvaneCli, BatchExtractionOnAllThreadsGivesTheTemplatesOfTheExports) {
    const std::string out = tempDir();
    std::vector<std::string> args = {"--threads", "3", "extract", "--out-dir", out};
    for (const std::string& p : allPrints()) args.push_back(p);
    const CliRun r = orvane(args);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& p : allPrints()) {
        int32_t code = -1;
        const std::vector<uint8_t> expected = extractEx(p, &code);
        ASSERT_EQ(code, 0) << p;
        EXPECT_GE(expected.size(), 4u + 7u * 8u) << "a synthetic print should give a usable template: " << p;
        const std::string tpl = out + "/" + fs::path(p).stem().string() + ".tpl";
        EXPECT_EQ(readFile(tpl), expected) << p;
        EXPECT_TRUE(contains(r.out, p + ": " + std::to_string((expected.size() - 4) / 7) + " minutiae")) << r.out;
    }
}

TEST_F(OrvaneCli, OtherImageFormatsGiveTheSameTemplateAsTheBitmap) {
    const std::string dir = tempDir();
    const Grey g = loadFinger(print(2, 1));
    writePnm(dir + "/grey.pgm", g, false);
    writePnm(dir + "/colour.ppm", g, true);
    writeTiff(dir + "/grey.tif", g);
    int32_t code = -1;
    const std::vector<uint8_t> expected = extractEx(print(2, 1), &code);
    ASSERT_EQ(code, 0);
    for (const char* name : {"grey.pgm", "colour.ppm", "grey.tif"}) {
        const std::string tpl = dir + "/" + name + ".tpl";
        const CliRun r = orvane({"extract", dir + "/" + name, "-o", tpl});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(readFile(tpl), expected) << name;
    }
}

TEST_F(OrvaneCli, OversizedImagesAreRefusedOrCentreCropped) {
    const std::string dir = tempDir();
    const Grey small = loadFinger(print(1, 1));
    // 700 x 440 with the print in the middle and a white margin.
    Grey big;
    big.width = 700;
    big.height = 440;
    big.pixels.assign(static_cast<size_t>(big.width) * big.height, 255);
    const int x0 = (700 - 640) / 2 + (640 - small.width) / 2, y0 = (440 - small.height) / 2;
    for (int y = 0; y < small.height; ++y) {
        std::copy_n(&small.pixels[static_cast<size_t>(y) * small.width], small.width,
                    &big.pixels[static_cast<size_t>(y0 + y) * big.width + x0]);
    }
    writePnm(dir + "/big.pgm", big, false);
    const CliRun refused = orvane({"extract", dir + "/big.pgm"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, "700 x 440")) << refused.err;
    EXPECT_TRUE(contains(refused.err, "--crop")) << refused.err;
    for (const char* mode : {"centre", "auto"}) {
        const CliRun cropped = orvane({"extract", dir + "/big.pgm", "--crop", mode, "-o", dir + "/big.tpl"});
        EXPECT_EQ(cropped.status, 0) << mode << ": " << cropped.err;
        EXPECT_TRUE(contains(cropped.out, "window ")) << cropped.out;
        EXPECT_GT(readFile(dir + "/big.tpl").size(), 4u);
    }
    EXPECT_EQ(orvane({"extract", dir + "/big.pgm", "--crop", "middle"}).status, 2);
}

TEST_F(OrvaneCli, ExtractWritesTheStageImagesToTheDebugFolder) {
    const std::string dir = tempDir() + "/stages";
    const CliRun r = orvane({"extract", print(1, 2), "--debug-dir", dir});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"0", "00", "1", "2", "3", "4", "5"}) {
        const Grey g = loadFinger(dir + "/" + name + ".bmp");
        EXPECT_EQ(g.width, 320) << name;
    }
}

TEST_F(OrvaneCli, MatchTakesImagesOrTemplatesInBothSearchModes) {
    const std::string dir = tempDir();
    ASSERT_EQ(orvane({"extract", print(1, 1), "-o", dir + "/a.tpl"}).status, 0);
    std::vector<uint8_t> a(ORVANE_MAX_TEMPLATE_BYTES), b(ORVANE_MAX_TEMPLATE_BYTES);
    ASSERT_EQ(LoadFeature((dir + "/a.tpl").c_str(), a.data()), 0);
    int32_t code = -1;
    b = extractEx(print(1, 3), &code);
    ASSERT_EQ(code, 0);
    for (int32_t flag : {0, 1}) {
        int32_t expected = -1;
        ASSERT_EQ(VerifyMatch(a.data(), b.data(), &expected, flag), 0);
        std::vector<std::string> args = {"--json", "match", dir + "/a.tpl", print(1, 3)};
        if (flag) args.push_back("--quick");
        const CliRun r = orvane(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, "\"score\":" + std::to_string(expected) + ",")) << r.out;
        EXPECT_TRUE(contains(r.out, flag ? "\"search\":\"quick\"" : "\"search\":\"full\"")) << r.out;
    }
    const CliRun text = orvane({"match", print(1, 1), print(1, 2)});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "result 0 (success)")) << text.out;
}

TEST_F(OrvaneCliBasics, QualityRatesEveryImage) {
    const CliRun r = orvane({"quality", print(1, 1), print(2, 2), print(3, 3)});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& p : {print(1, 1), print(2, 2), print(3, 3)}) {
        const Grey g = loadFinger(p);
        int32_t q = -1;
        ASSERT_EQ(GetQuality(g.pixels.data(), g.width, g.height, &q), 0);
        EXPECT_TRUE(contains(r.out, p + ": quality " + std::to_string(q) + "\n")) << r.out;
    }
}

TEST_F(OrvaneCli, IdentifyFindsTheProbesFingerFirst) {
    const std::string gallery = tempDir();
    std::vector<std::string> args = {"extract", "--out-dir", gallery};
    for (int f = 1; f <= 3; ++f) args.push_back(print(f, 1));
    ASSERT_EQ(orvane(args).status, 0);
    for (int f = 1; f <= 3; ++f) {
        const CliRun r = orvane({"identify", print(f, 2), gallery, "--top", "2"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream lines(r.out);
        std::string header, first;
        std::getline(lines, header);
        std::getline(lines, first);
        EXPECT_TRUE(contains(first, "00" + std::to_string(f) + "_1.tpl")) << r.out;
        EXPECT_TRUE(contains(r.out, "searched 3 entries")) << r.out;
        EXPECT_TRUE(contains(r.out, "comparisons/s")) << r.out;
    }
    // A gallery of prints is enrolled on the fly.
    const CliRun images = orvane({"--json", "identify", print(2, 3), *db_, "--top", "1"});
    ASSERT_EQ(images.status, 0) << images.err;
    EXPECT_TRUE(contains(images.out, "\"searched\":9")) << images.out;
    EXPECT_TRUE(contains(images.out, "002_")) << images.out;
}

TEST_F(OrvaneCli, EvalReportsBothProtocolsAndDrawsThePicture) {
    const std::string plot = tempDir() + "/eval.png";
    const CliRun r = orvane({"eval", *db_, "--plot", plot});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "3 fingers, 9 images")) << r.out;
    EXPECT_TRUE(contains(r.out, "9 genuine, 3 impostor")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nfull ")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nquick ")) << r.out;
    EXPECT_EQ(pngSize(plot), std::make_pair(1100u, 560u));

    const CliRun all = orvane({"--json", "eval", *db_, "--all-impostors"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_TRUE(contains(all.out, "\"genuineComparisons\":9,\"impostorComparisons\":27")) << all.out;
    EXPECT_TRUE(contains(all.out, "\"failedExtractions\":0")) << all.out;
    EXPECT_EQ(all.out.front(), '{');
}

TEST_F(OrvaneCli, EvalScoresFailedExtractionsAsZero) {
    const std::string dir = tempDir();
    for (int i = 1; i <= 2; ++i) fs::copy_file(print(1, i), dir + "/a_" + std::to_string(i) + ".bmp");
    fs::copy_file(print(2, 1), dir + "/b_1.bmp");
    Grey blank;
    blank.width = 200;
    blank.height = 200;
    blank.pixels.assign(200 * 200, 255);
    ASSERT_EQ(SaveFinger((dir + "/b_2.bmp").c_str(), blank.pixels.data(), 200, 200), 0);
    const CliRun r = orvane({"--json", "eval", dir});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"failedExtractions\":1")) << r.out;
    EXPECT_TRUE(contains(r.out, "b_2.bmp")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"genuineComparisons\":2")) << r.out;
}

TEST_F(OrvaneCli, DrawMarksTheMinutiaeBesideTheSkeleton) {
    const std::string dir = tempDir();
    const CliRun plain = orvane({"draw", print(3, 1), "-o", dir + "/m.png", "--scale", "1"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(pngSize(dir + "/m.png"), std::make_pair(320u, 400u));
    const CliRun both = orvane({"draw", print(3, 1), "-o", dir + "/s.png", "--skeleton"});
    ASSERT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(pngSize(dir + "/s.png"), std::make_pair(2u * 640u + 8u, 800u));
    EXPECT_TRUE(contains(both.out, "endings")) << both.out;
}

TEST_F(OrvaneCliBasics, DemoSynthesisesAndEvaluates) {
    const std::string dir = tempDir() + "/demo";
    const CliRun r = orvane({"demo", "--dir", dir, "--fingers", "3", "--impressions", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "synthesised 6 prints")) << r.out;
    EXPECT_TRUE(contains(r.out, "EER")) << r.out;
    EXPECT_GT(pngSize(dir + "/eval.png").first, 0u);
}

TEST_F(OrvaneCli, BadInputGivesOneLineAndAnExitStatus) {
    const std::string dir = tempDir();
    writeFile(dir + "/notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
    writeFile(dir + "/cut.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13});
    std::vector<uint8_t> damaged = readFile(dir + "/notes.txt");
    ASSERT_EQ(orvane({"extract", print(1, 1), "-o", dir + "/good.tpl"}).status, 0);
    damaged = readFile(dir + "/good.tpl");
    damaged.back() ^= 0x5a;
    writeFile(dir + "/bad.tpl", damaged);
    std::vector<uint8_t> longer = readFile(dir + "/good.tpl");
    longer.resize(longer.size() + 10 * 1000 * 1000, 0);  // a template and 10 MB of zeros
    writeFile(dir + "/long.tpl", longer);
    std::vector<uint8_t> loaded(ORVANE_MAX_TEMPLATE_BYTES);
    EXPECT_EQ(LoadFeature((dir + "/long.tpl").c_str(), loaded.data()), 0);  // the export reads its template
    std::vector<uint8_t> blank(100 * 100, 255);
    ASSERT_EQ(SaveFinger((dir + "/blank.bmp").c_str(), blank.data(), 100, 100), 0);
    fs::create_directories(dir + "/empty");

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, 2, "usage: orvane"},
        {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
        {{"extract"}, 2, "needs at least one image"},
        {{"extract", dir + "/missing.bmp"}, 1, "missing.bmp: no such file"},
        {{"extract", dir + "/notes.txt"}, 1, "notes.txt: not an image"},
        {{"extract", dir + "/cut.png"}, 1, "cut.png: damaged"},
        {{"extract", dir + "/blank.bmp"}, 1, "10400: extraction failed: too little print"},
        {{"match", dir + "/good.tpl", dir + "/long.tpl"}, 1, "holds a template of"},
        {{"extract", print(1, 1), "--bogus"}, 2, "unknown option --bogus"},
        {{"extract", print(1, 1), "-o", dir + "/no/such/folder/x.tpl"}, 1, "cannot write template"},
        {{"match", print(1, 1)}, 2, "needs two prints or templates"},
        {{"match", print(1, 1), dir + "/bad.tpl"}, 1, "bad.tpl: not an image and not a valid template"},
        {{"match", print(1, 1), dir + "/notes.txt"}, 1, "not a valid template"},
        {{"quality", dir}, 1, "is a folder"},
        {{"identify", print(1, 1), dir + "/nowhere"}, 1, "no such folder"},
        {{"identify", print(1, 1), dir + "/empty"}, 1, "no usable templates"},
        {{"identify", print(1, 1), *db_, "--top", "0"}, 2, "--top takes a whole number"},
        {{"eval", dir + "/empty"}, 1, "no images named FINGER_IMPRESSION"},
        {{"draw", print(1, 1)}, 2, "needs -o"},
        {{"draw", dir + "/blank.bmp", "-o", dir + "/x.png"}, 1, "10400"},
        {{"synth", dir + "/s", "--fingers", "0"}, 2, "--fingers takes a whole number"},
        {{"--threads", "lots", "quality", print(1, 1)}, 2, "--threads takes a whole number"},
    };
    for (const Case& c : cases) {
        const CliRun r = orvane(c.args);
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        EXPECT_EQ(r.status, c.status) << joined << "\n" << r.err;
        EXPECT_TRUE(contains(r.err, c.message)) << joined << "\n" << r.err;
        if (c.status != 2 || !c.args.empty()) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << "\n" << r.err;
            EXPECT_EQ(r.err.rfind("orvane: ", 0), 0u) << joined << "\n" << r.err;
        }
    }
}

std::vector<uint8_t> firstBytes(const std::string& path, size_t share_num, size_t share_den) {
    std::vector<uint8_t> b = readFile(path);
    b.resize(b.size() * share_num / share_den);
    return b;
}

TEST_F(OrvaneCli, DamagedImagesAreErrorsNeverFilledIn) {
    const std::string dir = tempDir();
    const Grey g = loadFinger(print(1, 1));
    const std::vector<uint8_t> rows = topDown(g);
    ASSERT_NE(stbi_write_bmp((dir + "/colour.bmp").c_str(), g.width, g.height, 1, rows.data()), 0);  // 24-bit
    ASSERT_NE(stbi_write_png((dir + "/p.png").c_str(), g.width, g.height, 1, rows.data(), g.width), 0);
    ASSERT_NE(stbi_write_jpg((dir + "/j.jpg").c_str(), g.width, g.height, 1, rows.data(), 95), 0);
    writeTiff(dir + "/t.tif", g);
    writePnm(dir + "/g.pgm", g, false);
    fs::copy_file(print(1, 1), dir + "/grey.bmp");
    // Each is whole first, then cut: the whole file extracts, the cut one is
    // refused as damaged (a lenient decoder would fill the rows with zeros).
    struct Case {
        const char* name;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"grey.bmp", "cut short"}, {"colour.bmp", "cut short"}, {"p.png", "cut short"},
        {"j.jpg", "cut short"},    {"g.pgm", "cut short"},      {"t.tif", "damaged"},
    };
    for (const Case& c : cases) {
        const std::string whole = dir + "/" + c.name, cut = dir + "/cut_" + c.name;
        EXPECT_EQ(orvane({"extract", whole}).status, 0) << c.name;
        writeFile(cut, firstBytes(whole, 1, 2));
        const CliRun r = orvane({"extract", cut});
        EXPECT_EQ(r.status, 1) << c.name << ": " << r.out;
        EXPECT_TRUE(contains(r.err, "damaged")) << r.err;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_FALSE(contains(r.err, "10400")) << r.err;
    }
    // Only the headers of a bitmap.
    std::vector<uint8_t> header = readFile(print(1, 1));
    header.resize(500);
    writeFile(dir + "/header.bmp", header);
    const CliRun r = orvane({"extract", dir + "/header.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "header.bmp: damaged image, file cut short")) << r.err;
}

TEST_F(OrvaneCli, TopDownBitmapGivesTheTemplateOfItsBottomUpTwin) {
    std::vector<uint8_t> bmp = readFile(print(2, 2));
    const Grey g = loadFinger(print(2, 2));
    const size_t stride = (static_cast<size_t>(g.width) + 3) / 4 * 4;
    std::vector<uint8_t> flipped(bmp.begin(), bmp.begin() + 1078);
    for (int32_t y = g.height - 1; y >= 0; --y) {
        const auto row = bmp.begin() + 1078 + static_cast<std::ptrdiff_t>(y * stride);
        flipped.insert(flipped.end(), row, row + static_cast<std::ptrdiff_t>(stride));
    }
    const int32_t negative = -g.height;
    std::memcpy(&flipped[22], &negative, 4);
    const std::string dir = tempDir();
    writeFile(dir + "/top_down.bmp", flipped);
    int32_t w = 0, h = 0;
    EXPECT_NE(LoadFinger((dir + "/top_down.bmp").c_str(), nullptr, &w, &h), 0);  // the export keeps refusing it
    const CliRun r = orvane({"extract", dir + "/top_down.bmp", "-o", dir + "/t.tpl"});
    ASSERT_EQ(r.status, 0) << r.err;
    int32_t code = -1;
    EXPECT_EQ(readFile(dir + "/t.tpl"), extractEx(print(2, 2), &code));
}

TEST_F(OrvaneCli, PicturesAreWrittenInTheFormatTheirNameSays) {
    const std::string dir = tempDir();
    const std::vector<std::pair<std::string, std::string>> written = {
        {"m.png", "\x89PNG"}, {"m.svg", "<?xml"}, {"m.PDF", "%PDF"}};
    for (const auto& [name, magic] : written) {
        const CliRun r = orvane({"draw", print(1, 1), "-o", dir + "/" + name});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const std::vector<uint8_t> b = readFile(dir + "/" + name);
        EXPECT_EQ(std::string(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), magic.size()))), magic)
            << name;
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"draw", print(1, 1), "-o", dir + "/m.bmp"},
          std::vector<std::string>{"draw", print(1, 1), "-o", dir + "/m.jpg"},
          std::vector<std::string>{"draw", print(1, 1), "-o", dir + "/noext"},
          std::vector<std::string>{"eval", *db_, "--plot", dir + "/e.jpg"}}) {
        const CliRun r = orvane(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_TRUE(contains(r.err, "PNG, SVG or PDF")) << r.err;
        EXPECT_FALSE(fs::exists(args.back())) << args.back();
    }
}

TEST_F(OrvaneCli, EvalGivesCompetitionFiguresOnlyWhereTheImpostorsSupportThem) {
    const std::string csv = tempDir() + "/scores.csv";
    const CliRun r = orvane({"eval", *db_, "--scores", csv});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part : {"EER", "(interval)", "FMR100", "FMR1000", "ZeroFMR", "FTE", "score thresholds",
                             "n/a: 3 impostor comparisons", "--all-impostors"}) {
        EXPECT_TRUE(contains(r.out, part)) << part << "\n" << r.out;
    }
    // Every comparison, both searches, with scores the exports give.
    const std::vector<uint8_t> bytes = readFile(csv);
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "probe,gallery,comparison,full_score,quick_score,note");
    int genuine = 0, impostor = 0;
    bool checkedOne = false;
    while (std::getline(lines, line)) {
        genuine += contains(line, ",genuine,");
        impostor += contains(line, ",impostor,");
        if (!checkedOne) {
            EXPECT_EQ(line.rfind(print(1, 1) + "," + print(1, 2) + ",genuine,", 0), 0u) << line;
            int32_t code = -1;
            const std::vector<uint8_t> a = extractEx(print(1, 1), &code), b = extractEx(print(1, 2), &code);
            int32_t full = -1, quick = -1;
            ASSERT_EQ(VerifyMatch(a.data(), b.data(), &full, 0), 0);
            ASSERT_EQ(VerifyMatch(a.data(), b.data(), &quick, 1), 0);
            EXPECT_TRUE(contains(line, ",genuine," + std::to_string(full) + "," + std::to_string(quick) + ",")) << line;
            checkedOne = true;
        }
    }
    EXPECT_EQ(genuine, 9);
    EXPECT_EQ(impostor, 3);

    const CliRun json = orvane({"--json", "eval", *db_});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_TRUE(contains(json.out, "\"eerLow\":")) << json.out;
    EXPECT_TRUE(contains(json.out, "\"fmr100\":null")) << json.out;  // 3 impostors cannot measure 1%
    EXPECT_TRUE(contains(json.out, "\"zeroFmr\":{\"fnmr\":")) << json.out;

    // One finger: no impostors, so no impostor figures at all.
    const std::string one = tempDir();
    for (int i = 1; i <= 2; ++i) fs::copy_file(print(1, i), one + "/a_" + std::to_string(i) + ".bmp");
    const CliRun single = orvane({"eval", one});
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_TRUE(contains(single.out, ": 1 finger, 2 images")) << single.out;
    EXPECT_TRUE(contains(single.out, "no error rates")) << single.out;
    EXPECT_FALSE(contains(single.out, "impostor mean")) << single.out;
}

TEST_F(OrvaneCli, CropAutoExtractsFromThePrintsWindowOnALargeBackground) {
    const Grey print11 = loadFinger(print(1, 1));
    Grey big;
    big.width = 640;
    big.height = 480;
    std::mt19937 random(3);
    big.pixels.resize(640 * 480);
    for (uint8_t& p : big.pixels) p = static_cast<uint8_t>(170 + random() % 60);  // a mottled background
    const int left = 280, top = 50;
    const int firstRow = big.height - top - print11.height;  // rows are stored bottom first
    for (int y = 0; y < print11.height; ++y) {
        std::copy_n(&print11.pixels[static_cast<size_t>(y) * print11.width], print11.width,
                    &big.pixels[static_cast<size_t>(firstRow + y) * big.width + left]);
    }
    const std::string dir = tempDir();
    writePnm(dir + "/big.pgm", big, false);
    const CliRun r = orvane({"--json", "extract", dir + "/big.pgm", "--crop", "auto"});
    ASSERT_EQ(r.status, 0) << r.err;
    int wl = -1, wt = -1, ww = -1, wh = -1;
    const size_t at = r.out.find("\"window\":");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "\"window\":{\"left\":%d,\"top\":%d,\"width\":%d,\"height\":%d", &wl, &wt,
                          &ww, &wh),
              4)
        << r.out;
    // Inside the pasted frame (plus the margin), and holding most of it.
    constexpr int kSlack = 32;
    EXPECT_GE(wl, left - kSlack);
    EXPECT_GE(wt, top - kSlack);
    EXPECT_LE(wl + ww, left + print11.width + kSlack);
    EXPECT_LE(wt + wh, top + print11.height + kSlack);
    EXPECT_GE(ww, print11.width / 2);
    EXPECT_GE(wh, print11.height / 2);
}

TEST_F(OrvaneCli, JsonIsOneObjectPerCommandErrorsIncluded) {
    const std::string dir = tempDir();
    std::vector<uint8_t> blank(100 * 100, 255);
    ASSERT_EQ(SaveFinger((dir + "/blank.bmp").c_str(), blank.data(), 100, 100), 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string part;
    };
    const std::vector<Case> cases = {
        {{"extract", print(1, 1)}, 0, "\"command\":\"extract\",\"images\":[{\"image\":"},
        {{"extract", print(1, 1), dir + "/blank.bmp"}, 1, "\"failed\":1"},
        {{"quality", print(1, 1), print(1, 2)}, 0, "\"command\":\"quality\",\"images\":[{"},
        {{"match", print(1, 1), print(1, 2)}, 0, "\"probe\":"},
        {{"identify", print(1, 2), *db_, "--top", "2"}, 0, "\"results\":[{"},
        {{"draw", print(1, 1), "-o", dir + "/d.png"}, 0, "\"command\":\"draw\""},
        {{"synth", dir + "/s", "--fingers", "1", "--impressions", "1"}, 0, "\"command\":\"synth\""},
        {{"extract", dir + "/nothing.bmp"}, 1, "{\"command\":\"extract\",\"error\":"},
        {{"frobnicate"}, 2, "\"error\":\"unknown command"},
        {{"match", print(1, 1)}, 2, "\"exitStatus\":2"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun r = orvane(args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << "\n" << r.err;
        EXPECT_EQ(r.out.front(), '{') << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - 2), "}\n") << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_TRUE(contains(r.out, c.part)) << c.part << "\n" << r.out;
        if (c.status != 0) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
}

TEST_F(OrvaneCli, MessagesSayEachThingOnce) {
    const std::string dir = tempDir();
    std::vector<uint8_t> blank(100 * 100, 255);
    ASSERT_EQ(SaveFinger((dir + "/blank.bmp").c_str(), blank.data(), 100, 100), 0);
    const CliRun batch = orvane({"extract", print(1, 1), dir + "/blank.bmp"});
    EXPECT_EQ(batch.status, 1);
    const size_t at = batch.out.find(dir + "/blank.bmp");
    ASSERT_NE(at, std::string::npos) << batch.out;
    const std::string line = batch.out.substr(at, batch.out.find('\n', at) - at);
    EXPECT_EQ(line.find(dir + "/blank.bmp", 1), std::string::npos) << line;

    const CliRun unknown = orvane({"frobnicate"});
    size_t hints = 0;
    for (size_t p = unknown.err.find("orvane --help"); p != std::string::npos; p = unknown.err.find("orvane --help", p + 1)) ++hints;
    EXPECT_EQ(hints, 1u) << unknown.err;

    const CliRun help = orvane({"--help"});
    for (const char* part : {"--quiet", "demo [--dir DIR] [--fingers N]", "match PROBE REFERENCE", "--crop auto",
                             "--scores FILE.csv"}) {
        EXPECT_TRUE(contains(help.out, part)) << part;
    }
}

TEST_F(OrvaneCliBasics, NoiseIsFlaggedRatherThanPassedOffAsAPrint) {
    std::mt19937 random(11);
    std::vector<uint8_t> noise(256 * 364);
    for (uint8_t& p : noise) p = static_cast<uint8_t>(random());
    const std::string path = tempDir() + "/noise.bmp";
    ASSERT_EQ(SaveFinger(path.c_str(), noise.data(), 256, 364), 0);
    const CliRun r = orvane({"quality", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "quality 100")) << r.out;  // the frame is covered: quality cannot tell
    EXPECT_TRUE(contains(r.err, "warning")) << r.err;
    EXPECT_TRUE(contains(r.err, "implausibly many") || contains(r.err, "too many minutia candidates")) << r.err;
    EXPECT_EQ(orvane({"--quiet", "quality", path}).err, "");
}

}  // namespace
