// The accuracy figures of orvane eval on small score sets worked out by hand.
#include "error_rates.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane::cli {
namespace {

std::vector<int32_t> repeat(int32_t score, int count) { return std::vector<int32_t>(static_cast<size_t>(count), score); }

std::vector<int32_t> join(std::vector<std::vector<int32_t>> parts) {
    std::vector<int32_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Accepted at score >= t; FMR(t) = impostors >= t, FNMR(t) = genuine < t.
// t1 = last t with FNMR <= FMR, t2 = first t with FNMR >= FMR; the interval
// is taken at whichever of the two has the smaller FMR + FNMR.
TEST(EvalErrorRates, EqualErrorRateIntervalAsTheCompetitionsDefineIt) {
    struct Case {
        const char* name;
        std::vector<int32_t> genuine, impostor;
        double low, high;
        int32_t threshold;
    };
    const std::vector<Case> cases = {
        // t = 5: FMR {5,7} = 2/4, FNMR {2,4} = 2/4, so t1 = t2 = 5.
        {"curves cross", {2, 4, 6, 8}, {1, 3, 5, 7}, 0.5, 0.5, 5},
        // t1 = 21: FNMR 0, FMR {35} = 1/8 (sum 0.125); t2 = 31: FMR 1/8,
        // FNMR {30} = 1/4 (sum 0.375). t1 wins: [0, 0.125].
        {"t1 has the smaller sum", {30, 40, 50, 60}, join({repeat(0, 5), {10, 20, 35}}), 0.0, 0.125, 21},
        // t1 = 6: FNMR {5} = 0.1, FMR 10/20 = 0.5 (sum 0.6); t2 = 11: FMR
        // {25} = 0.05, FNMR {5} = 0.1 (sum 0.15). t2 wins: [0.05, 0.1].
        {"t2 has the smaller sum", join({{5, 20, 20}, repeat(30, 7)}), join({repeat(0, 10), repeat(10, 9), {25}}),
         0.05, 0.1, 11},
        // t = 6: no genuine below and no impostor at or above.
        {"separate scores", join({repeat(10, 2), repeat(50, 8)}), join({repeat(0, 6), repeat(5, 4)}), 0.0, 0.0, 6},
    };
    for (const Case& c : cases) {
        const ErrorRates r = computeErrorRates(c.genuine, c.impostor);
        EXPECT_TRUE(r.rated) << c.name;
        EXPECT_DOUBLE_EQ(r.eerLow, c.low) << c.name;
        EXPECT_DOUBLE_EQ(r.eerHigh, c.high) << c.name;
        EXPECT_DOUBLE_EQ(r.eer, (c.low + c.high) / 2) << c.name;
        EXPECT_EQ(r.eerThreshold, c.threshold) << c.name;
    }
}

TEST(EvalErrorRates, OperatingPointsNeedEnoughImpostors) {
    // 100 impostors: one at 40 and one at 60, so FMR(41) = 1% and FMR(61) = 0.
    const std::vector<int32_t> genuine = repeat(50, 10);
    const std::vector<int32_t> impostor = join({repeat(0, 98), {40, 60}});
    const ErrorRates r = computeErrorRates(genuine, impostor);
    EXPECT_TRUE(r.fmr100.supported);
    EXPECT_EQ(r.fmr100.threshold, 41);
    EXPECT_DOUBLE_EQ(r.fmr100.fnmr, 0.0);
    EXPECT_FALSE(r.fmr1000.supported);  // 0.1% of 100 is not one comparison
    EXPECT_FALSE(r.fmr10000.supported);
    EXPECT_TRUE(r.zeroFmr.supported);
    EXPECT_EQ(r.zeroFmr.threshold, 61);
    EXPECT_DOUBLE_EQ(r.zeroFmr.fnmr, 1.0);
    // t1 = 41 (FNMR 0, FMR 1%), t2 = 51 (FMR 1%, FNMR 1): [0, 1%].
    EXPECT_DOUBLE_EQ(r.eer, 0.005);

    // 99 impostors cannot support FMR 1%; 1000 support 0.1%.
    EXPECT_FALSE(computeErrorRates(genuine, repeat(0, 99)).fmr100.supported);
    const ErrorRates many = computeErrorRates(genuine, join({repeat(0, 999), {70}}));
    EXPECT_TRUE(many.fmr1000.supported);
    EXPECT_EQ(many.fmr1000.threshold, 1);  // FMR(1) = 1/1000
    EXPECT_DOUBLE_EQ(many.zeroFmr.fnmr, 1.0);
}

TEST(EvalErrorRates, NoRatesWithoutBothKindsOfComparisons) {
    EXPECT_FALSE(computeErrorRates({10, 20}, {}).rated);
    EXPECT_FALSE(computeErrorRates({}, {10, 20}).rated);
    EXPECT_DOUBLE_EQ(computeErrorRates({10, 20}, {}).genuineMean, 15.0);
}

}  // namespace
}  // namespace orvane::cli
