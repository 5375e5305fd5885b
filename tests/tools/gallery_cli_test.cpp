// The gallery commands end to end: enroll, identify, verify and the
// maintenance actions on synthetic prints, and their refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_run.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class GalleryCli : public ::testing::Test {
protected:
    // Four fingers, three impressions each.
    static void SetUpTestSuite() {
        prints_ = new std::string(orvane::test::tempDir() + "/prints");
        const CliRun r = orvane({"synth", *prints_, "--fingers", "4", "--impressions", "3", "--seed", "2024"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static void TearDownTestSuite() {
        delete prints_;
        prints_ = nullptr;
    }
    static std::string print(int finger, int impression) {
        return *prints_ + "/00" + std::to_string(finger) + "_" + std::to_string(impression) + ".bmp";
    }
    // Impressions 2 and 3 of fingers 1..3 enrolled into a fresh gallery.
    static std::string enrolledGallery() {
        const std::string path = orvane::test::tempDir() + "/g.db";
        std::vector<std::string> args = {"enroll", path};
        for (int f = 1; f <= 3; ++f) {
            for (int i = 2; i <= 3; ++i) args.push_back(print(f, i));
        }
        const CliRun r = orvane(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return path;
    }
    static std::string* prints_;
};
std::string* GalleryCli::prints_ = nullptr;

TEST_F(GalleryCli, EnrolIdentifyVerifyAndMaintain) {
    const std::string g = enrolledGallery();

    // Mated probe: its finger first, a match; non-mated: no match.
    const CliRun mated = orvane({"--json", "identify", print(2, 1), g, "--top", "3"});
    ASSERT_EQ(mated.status, 0) << mated.err;
    EXPECT_TRUE(contains(mated.out, "\"searched\":6")) << mated.out;
    EXPECT_TRUE(contains(mated.out, "\"match\":true")) << mated.out;
    EXPECT_TRUE(contains(mated.out, "\"results\":[{\"rank\":1,")) << mated.out;
    EXPECT_TRUE(contains(mated.out.substr(mated.out.find("\"rank\":1")), "\"entry\":\"002\"")) << mated.out;
    const CliRun stranger = orvane({"identify", print(4, 1), g});
    ASSERT_EQ(stranger.status, 0) << stranger.err;
    EXPECT_TRUE(contains(stranger.out, "no match")) << stranger.out;
    EXPECT_TRUE(contains(stranger.out, "comparisons/s")) << stranger.out;

    const CliRun yes = orvane({"verify", print(3, 1), g, "--subject", "003"});
    ASSERT_EQ(yes.status, 0) << yes.err;
    EXPECT_TRUE(contains(yes.out, "2 prints compared")) << yes.out;
    EXPECT_TRUE(contains(yes.out, ": match at threshold")) << yes.out;
    const CliRun no = orvane({"--json", "verify", print(3, 1), g, "--subject", "001"});
    EXPECT_TRUE(contains(no.out, "\"match\":false")) << no.out;

    const CliRun stats = orvane({"--json", "gallery", "stats", g});
    EXPECT_TRUE(contains(stats.out, "\"entries\":6,\"subjects\":3,\"fromImages\":6")) << stats.out;
    const CliRun list = orvane({"gallery", "list", g, "--subject", "001"});
    EXPECT_TRUE(contains(list.out, "001_2.bmp") && contains(list.out, "001_3.bmp")) << list.out;

    // Export, import elsewhere, and the copy answers the same.
    const std::string out = orvane::test::tempDir() + "/exported";
    ASSERT_EQ(orvane({"gallery", "export", g, out}).status, 0);
    const std::string copy = orvane::test::tempDir() + "/copy.db";
    const CliRun imported = orvane({"gallery", "import", copy, out});
    ASSERT_EQ(imported.status, 0) << imported.err;
    const CliRun again = orvane({"--json", "identify", print(2, 1), copy, "--top", "3"});
    EXPECT_EQ(again.out.substr(again.out.find("\"results\"")), mated.out.substr(mated.out.find("\"results\"")));

    // Removal by row and by subject.
    EXPECT_EQ(orvane({"gallery", "remove", g, "1"}).status, 0);
    EXPECT_EQ(orvane({"gallery", "remove", g, "--subject", "002"}).status, 0);
    const CliRun missing = orvane({"gallery", "remove", g, "1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(contains(orvane({"--json", "gallery", "stats", g}).out, "\"entries\":3")) << missing.err;
}

TEST_F(GalleryCli, RefusalsAreOneLineAndLeaveTheGalleryAlone) {
    const std::string g = enrolledGallery();
    const std::vector<uint8_t> before = orvane::test::readFile(g);
    const std::string dir = orvane::test::tempDir();
    const std::string junk = dir + "/005_1.bmp";
    orvane::test::writeFile(junk, {'B', 'M', 1, 2, 3});
    const std::string text = dir + "/notes.db";
    orvane::test::writeFile(text, {'h', 'i', '\n'});

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"enroll", g, print(1, 2)}, 1, "the same image is enrolled already"},
        {{"enroll", g, print(1, 1), "--finger", "11"}, 2, "--finger takes a whole number from 0 to 10"},
        {{"enroll", g, print(1, 1), "--subject", ""}, 2, "the subject is empty"},
        {{"enroll", g, print(1, 1), "--subject", "alias", "--dedup", "60"}, 1, "matches subject 001"},
        {{"enroll", g, dir + "/unnamed.bmp"}, 1, "not named SUBJECT_IMPRESSION"},
        {{"enroll", text, print(1, 1)}, 1, "not a gallery (not an SQLite database)"},
        {{"identify", print(1, 1), text}, 1, "not a gallery (not an SQLite database)"},
        {{"identify", print(1, 1), dir + "/nowhere"}, 1, "no such folder or gallery file"},
        {{"verify", print(1, 1), g, "--subject", "nobody"}, 1, "subject nobody has no usable prints"},
        {{"gallery", "frobnicate", g}, 2, "unknown gallery action"},
    };
    for (const Case& c : cases) {
        const CliRun r = orvane(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back() << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_TRUE(contains(orvane({"--json", "gallery", "stats", g}).out, "\"entries\":6"));
    EXPECT_EQ(orvane::test::readFile(text), std::vector<uint8_t>({'h', 'i', '\n'}));

    // A batch with a print that fails goes on; the exit status says so.
    const CliRun batch = orvane({"enroll", g, junk, print(4, 1), print(4, 2)});
    EXPECT_EQ(batch.status, 1);
    EXPECT_TRUE(contains(batch.err, junk)) << batch.err;
    EXPECT_TRUE(contains(batch.err, "1 of 3 prints were not enrolled")) << batch.err;
    EXPECT_TRUE(contains(batch.out, "enrolled 2 of 3 prints")) << batch.out;
    (void)before;
}

}  // namespace
