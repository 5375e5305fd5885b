// orvane convert, and the other commands taking records and text minutiae,
// driven end to end on synthetic prints.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/feature_template.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using orvane::test::readFile;
using orvane::test::tempDir;
using orvane::test::writeFile;

namespace {

struct CliRun {
    int status = -1;
    std::string out;  // stdout and stderr together
};

CliRun orvane(const std::vector<std::string>& args) {
    std::string cmd = "'" ORVANE_CLI_PATH "'";
    for (const std::string& a : args) cmd += " '" + a + "'";  // test paths hold no quotes
    cmd += " 2>&1 </dev/null";
    CliRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int raw = pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ConvertCli : public ::testing::Test {
protected:
    // Two fingers, two impressions: 001_1.bmp 001_2.bmp 002_1.bmp 002_2.bmp.
    static void SetUpTestSuite() {
        dir_ = new std::string(tempDir());
        const CliRun r = orvane({"synth", *dir_ + "/prints", "--fingers", "2", "--impressions", "2", "--seed", "3"});
        ASSERT_EQ(r.status, 0) << r.out;
    }
    static void TearDownTestSuite() { delete dir_; }
    static std::string print(const std::string& stem) { return *dir_ + "/prints/" + stem + ".bmp"; }
    static std::string* dir_;
};
std::string* ConvertCli::dir_ = nullptr;

TEST_F(ConvertCli, ConvertsBetweenEveryFormatAndBack) {
    const std::string d = *dir_;
    ASSERT_EQ(orvane({"extract", print("001_1"), "-o", d + "/own.tpl"}).status, 0);
    const std::vector<uint8_t> own = readFile(d + "/own.tpl");

    // Image -> ISO (size and quality from the image) -> template: the same bytes.
    CliRun r = orvane({"convert", print("001_1"), d + "/a.iso"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "(image) -> " + d + "/a.iso (iso)")) << r.out;
    const std::vector<uint8_t> iso = readFile(d + "/a.iso");
    ASSERT_GT(iso.size(), 30u);
    EXPECT_EQ(iso[14] << 8 | iso[15], 320);  // width
    EXPECT_EQ(iso[16] << 8 | iso[17], 400);
    EXPECT_GT(iso[26], 0);  // finger quality: the image's quality score
    ASSERT_EQ(orvane({"convert", d + "/a.iso", d + "/back.tpl"}).status, 0);
    EXPECT_EQ(readFile(d + "/back.tpl"), own);

    // Template -> ANSI needs the image size; --to overrides the extension.
    r = orvane({"convert", d + "/own.tpl", d + "/b.ansi"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.out, "give --size")) << r.out;
    ASSERT_EQ(orvane({"convert", d + "/own.tpl", d + "/b.record", "--to", "ansi", "--size", "320x400",
                      "--finger", "2"}).status, 0);
    const std::vector<uint8_t> ansi = readFile(d + "/b.record");
    ASSERT_GT(ansi.size(), 30u);
    EXPECT_EQ(ansi[8] << 8 | ansi[9], static_cast<int>(ansi.size()));  // ANSI's 2-byte length
    EXPECT_EQ(ansi[26], 2);
    ASSERT_EQ(orvane({"convert", d + "/b.record", d + "/back2.tpl"}).status, 0);
    EXPECT_EQ(readFile(d + "/back2.tpl"), own);

    // Text: one line a minutia.
    ASSERT_EQ(orvane({"convert", d + "/a.iso", d + "/a.txt"}).status, 0);
    const std::vector<uint8_t> text = readFile(d + "/a.txt");
    size_t lines = 0;
    for (uint8_t c : text) lines += c == '\n' ? 1 : 0;
    EXPECT_EQ(lines, (own.size() - 4) / 7);
    ASSERT_EQ(orvane({"convert", d + "/a.txt", d + "/c.iso", "--size", "320x400"}).status, 0);

    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } refused[] = {
        {{"convert", d + "/a.iso", d + "/x.iso", "--view", "1"}, 1, "no finger view 1: the record has 1"},
        {{"convert", d + "/a.iso", d + "/x.dat"}, 2, "give --to iso|ansi|text|orvane"},
        {{"convert", d + "/a.iso", d + "/x.iso", "--to", "pdf"}, 2, "--to takes iso, ansi, text or orvane"},
        {{"convert", d + "/a.iso", d + "/x.iso", "--size", "0x5"}, 2, "--size takes"},
        {{"convert", d + "/a.iso", d + "/x.iso", "--size", "100x100"}, 1, "outside the 100 x 100 image"},
        {{"convert", d + "/a.iso"}, 2, "needs an input and an output"},
        {{"--view", "x", "convert", d + "/a.iso", d + "/x.tpl"}, 2, "--view takes"},
    };
    for (const auto& c : refused) {
        r = orvane(c.args);
        EXPECT_EQ(r.status, c.status) << c.message << ": " << r.out;
        EXPECT_TRUE(contains(r.out, c.message)) << r.out;
    }
    std::vector<uint8_t> cut(iso.begin(), iso.end() - 1);
    writeFile(d + "/cut.iso", cut);
    r = orvane({"match", d + "/cut.iso", d + "/a.iso"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.out, "cut.iso: record length field says")) << r.out;
}

TEST_F(ConvertCli, MatchIdentifyAndEvalTakeRecordsAndText) {
    const std::string d = *dir_;
    const std::string gallery = d + "/gallery";
    fs::create_directories(gallery);
    const char* const stems[] = {"001_1", "001_2", "002_1", "002_2"};
    const char* const kinds[] = {".iso", ".ansi", ".tpl", ".iso"};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(orvane({"convert", print(stems[i]), gallery + "/" + stems[i] + kinds[i]}).status, 0);
    }
    CliRun images = orvane({"match", print("001_1"), print("001_2")});
    CliRun records = orvane({"match", gallery + "/001_1.iso", gallery + "/001_2.ansi"});
    ASSERT_EQ(records.status, 0) << records.out;
    EXPECT_EQ(images.out, records.out);  // the records carry the templates exactly

    CliRun r = orvane({"identify", gallery + "/001_2.ansi", gallery, "--top", "1"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "001_2.ansi")) << r.out;
    EXPECT_TRUE(contains(r.out, "searched 4 entries")) << r.out;

    r = orvane({"--json", "eval", gallery});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "\"images\":4,\"failedExtractions\":0")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"genuineComparisons\":2,\"impostorComparisons\":1")) << r.out;
}

}  // namespace
