// Every export runs on a thread with a small stack (64 KB, as some hosts and
// embedded runtimes create) and stays within 16 KB of it. The thread's stack
// is painted with a pattern beforehand; the deepest use is where the pattern
// ends, less what an empty thread already uses (its start-up and TLS).
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>

#include <cmath>
#include <cstdio>
#include <cstring>
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

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVANE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORVANE_SANITIZED 1
#endif
#endif

#if defined(ORVANE_SANITIZED)
// Instrumented frames are several times larger: the exports still run on a
// small thread, but the budget is only measured in plain builds.
constexpr size_t kThreadStack = 512 * 1024;
#else
constexpr size_t kThreadStack = 64 * 1024;
#endif
constexpr size_t kBudget = 16 * 1024;
constexpr uint8_t kPaint = 0xA5;

// Deepest stack use of work on a fresh thread of kThreadStack bytes. Below
// the stack lies an inaccessible guard larger than any frame, so that an
// overflow stops the test rather than writing over other memory.
size_t deepestUse(const std::function<void()>& work) {
    constexpr size_t kGuard = 256 * 1024;
    void* region = mmap(nullptr, kGuard + kThreadStack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return SIZE_MAX;
    mprotect(region, kGuard, PROT_NONE);
    uint8_t* const stack = static_cast<uint8_t*>(region) + kGuard;
    std::memset(stack, kPaint, kThreadStack);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack, kThreadStack);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    size_t used = SIZE_MAX;
    if (pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)) == 0) {
        pthread_join(thread, nullptr);
        // The stack grows down: find the lowest byte that was written.
        size_t untouched = 0;
        while (untouched < kThreadStack && stack[untouched] == kPaint) ++untouched;
        used = kThreadStack - untouched;
    }
    pthread_attr_destroy(&attributes);
    munmap(region, kGuard + kThreadStack);
    return used;
}

struct Call {
    const char* name;
    std::function<void()> run;
};

// Runs each call on its own small thread and holds it to the budget.
void expectWithinBudget(const std::vector<Call>& calls) {
    const size_t baseline = deepestUse([] {});
    ASSERT_NE(baseline, SIZE_MAX);
    for (const Call& call : calls) {
        const size_t used = deepestUse(call.run);
        ASSERT_NE(used, SIZE_MAX) << call.name;
        const size_t exportUse = used > baseline ? used - baseline : 0;
        std::printf("%-18s deepest stack use %6zu bytes\n", call.name, exportUse);
#if !defined(ORVANE_SANITIZED)
        EXPECT_LE(exportUse, kBudget) << call.name;
#endif
    }
}

// A print-like image: rings of ridges about a centre, on a light ground.
std::vector<uint8_t> ringPrint(int32_t width, int32_t height) {
    std::vector<uint8_t> image(static_cast<size_t>(width) * height, 230);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const double dx = x - width / 2.0, dy = (y - height / 2.0) * 0.8;
            const double r = std::sqrt(dx * dx + dy * dy);
            if (r < 0.42 * width) image[y * width + x] = static_cast<uint8_t>(128 + 100 * std::sin(r * 0.7));
        }
    }
    return image;
}

TEST(StackBudget, ImageAndFileExportsOnASmallThread) {
    const std::string folder = test::tempDir();
    const std::string imagePath = folder + "/print.bmp";
    const std::string templatePath = folder + "/print.tpl";
    int32_t width = 256, height = 360;
    std::vector<uint8_t> image = ringPrint(width, height);
    // A real print when there is one: it reaches every stage of extraction.
    const std::vector<std::string> prints = test::realPrints();
    if (!prints.empty() && LoadFinger(prints[0].c_str(), nullptr, &width, &height) == ORVANE_OK) {
        image.assign(static_cast<size_t>(width) * height, 0);
        ASSERT_EQ(LoadFinger(prints[0].c_str(), image.data(), &width, &height), ORVANE_OK);
    }
    ASSERT_EQ(SaveFinger(imagePath.c_str(), image.data(), width, height), ORVANE_OK);
    std::vector<uint8_t> featureTemplate(ORVANE_MAX_TEMPLATE_BYTES), loaded(ORVANE_MAX_TEMPLATE_BYTES);
    int32_t length = 0;
    const int32_t extracted = Extract(width, height, image.data(), 0, featureTemplate.data(), &length);
    const std::vector<uint8_t> expected = featureTemplate;

    std::vector<uint8_t> pixels(image.size());
    int32_t quality = -1, w = 0, h = 0;
    int32_t extractedOnThread = -1, extractedFromFileOnThread = -1;
    expectWithinBudget({
        {"Extract", [&] { extractedOnThread = Extract(width, height, image.data(), 0, featureTemplate.data(), &length); }},
        {"ExtractEx", [&] { extractedFromFileOnThread = ExtractEx(imagePath.c_str(), 0, featureTemplate.data(), &length); }},
        {"GetQuality", [&] { GetQuality(image.data(), width, height, &quality); }},
        {"SaveFeature", [&] { SaveFeature(templatePath.c_str(), expected.data()); }},
        {"LoadFeature", [&] { LoadFeature(templatePath.c_str(), loaded.data()); }},
        {"LoadFinger", [&] { LoadFinger(imagePath.c_str(), pixels.data(), &w, &h); }},
        {"SaveFinger", [&] { SaveFinger(imagePath.c_str(), pixels.data(), w, h); }},
    });
    // The calls on the small threads did their work.
    EXPECT_EQ(extractedOnThread, extracted);
    EXPECT_EQ(extractedFromFileOnThread, extracted);
    EXPECT_EQ(featureTemplate, expected);
    if (extracted == ORVANE_OK) {
        EXPECT_EQ(loaded, expected);
    }
    EXPECT_EQ(pixels, image);
    EXPECT_GE(quality, 0);
}

TEST(StackBudget, VerifyMatchOnASmallThread) {
    // A mated pair of realistic templates for the matcher's longest search.
    using namespace synthetic;
    std::mt19937 rng(7);
    const Finger finger = makeFinger(rng, 45);
    std::vector<uint8_t> first(ORVANE_MAX_TEMPLATE_BYTES), second(ORVANE_MAX_TEMPLATE_BYTES);
    const MinutiaSet a = impress(rng, finger, randomImpression(rng));
    const MinutiaSet b = impress(rng, finger, randomImpression(rng));
    packTemplate(&a, first.data());
    packTemplate(&b, second.data());
    int32_t fullScore = -1, quickScore = -1;
    expectWithinBudget({
        {"VerifyMatch full", [&] { VerifyMatch(first.data(), second.data(), &fullScore, 0); }},
        {"VerifyMatch quick", [&] { VerifyMatch(first.data(), second.data(), &quickScore, 1); }},
    });
    int32_t score = -1;
    ASSERT_EQ(VerifyMatch(first.data(), second.data(), &score, 0), ORVANE_OK);
    EXPECT_EQ(fullScore, score);
    ASSERT_EQ(VerifyMatch(first.data(), second.data(), &score, 1), ORVANE_OK);
    EXPECT_EQ(quickScore, score);
}

}  // namespace
}  // namespace orvane
