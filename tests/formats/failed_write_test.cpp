// Writes that fail part way (a full device, a file-size limit standing in
// for a full disk) are reported, and leave no truncated file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "formats/feature_template.h"
#include "support/synthetic_sets.h"
#include "orvane.h"
#include "support/test_support.h"

namespace orvane {
namespace {

bool exists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

// Lowers the process's file-size limit for its lifetime: writes past it fail
// (with EFBIG once the signal is ignored), as on a disk that fills up.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

std::vector<uint8_t> someTemplate() {
    std::mt19937 rng(3);
    const MinutiaSet set = synthetic::randomSet(rng, 40, 20, 20, 200, 300);
    std::vector<uint8_t> t(kMaxTemplateBytes);
    packTemplate(&set, t.data());
    return t;
}

TEST(FailedWrites, AreReportedAndLeaveNoPartialFile) {
    const std::vector<uint8_t> image(256 * 360, 128);
    const std::vector<uint8_t> featureTemplate = someTemplate();
    ASSERT_GT(templateLength(featureTemplate.data()), 64);
    const std::string folder = test::tempDir();
    struct Case {
        const char* name;
        int32_t expected;
        std::function<int32_t(const char*)> save;
    };
    const Case cases[] = {
        {"SaveFinger", ORVANE_E_SAVE_IMAGE, [&](const char* p) { return SaveFinger(p, image.data(), 256, 360); }},
        {"SaveFeature", ORVANE_E_SAVE_TEMPLATE, [&](const char* p) { return SaveFeature(p, featureTemplate.data()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A device that is always full: the failure shows, the device stays.
        EXPECT_EQ(c.save("/dev/full"), c.expected);
        EXPECT_TRUE(exists("/dev/full"));
        // A plain file that can only take its first 64 bytes.
        const std::string path = folder + "/" + c.name;
        {
            FileSizeLimit limit(64);
            EXPECT_EQ(c.save(path.c_str()), c.expected);
        }
        EXPECT_FALSE(exists(path));
        // A folder that does not exist.
        EXPECT_EQ(c.save((folder + "/missing/file").c_str()), c.expected);
        // And the same call without the limit succeeds.
        EXPECT_EQ(c.save(path.c_str()), ORVANE_OK);
        EXPECT_TRUE(exists(path));
    }
}

}  // namespace
}  // namespace orvane
