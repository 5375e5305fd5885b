// Interchange on real prints: exact round trips of this project's templates,
// and the conventions measured against records another extractor wrote for
// the same prints. Skips without the data folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "formats/feature_template.h"
#include "interchange/interchange.h"
#include "interface/extraction.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace orvane;
using namespace orvane::interchange;

namespace {

struct Extracted {
    std::string path;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> featureTemplate;  // empty when extraction failed
};

// Templates of the real prints, of one folder or ("") all of them.
std::vector<Extracted> extractRealPrints(const std::string& folder) {
    std::vector<Extracted> out;
    std::unique_ptr<Workspace> ws = test::makeWorkspace();
    for (const std::string& path : test::realPrints()) {
        if (!folder.empty() && fs::path(path).parent_path().filename() != folder) continue;
        Extracted e;
        e.path = path;
        if (readBitmap(path.c_str(), nullptr, &e.width, &e.height) != 0) continue;
        uint8_t buffer[kMaxTemplateBytes];
        int32_t length = 0;
        if (extractTemplateFromFile(*ws, path.c_str(), buffer, &length, nullptr) == 0) {
            e.featureTemplate.assign(buffer, buffer + length);
        }
        out.push_back(std::move(e));
    }
    return out;
}

std::string foreignDir() {
    const std::string data = test::dataDir();
    if (data.empty()) return "";
    const std::string dir = data + "/iso19794_fvc2002_db1_b";
    std::error_code ec;
    return fs::is_directory(dir, ec) ? dir : "";
}

std::vector<std::string> foreignRecords() {
    std::vector<std::string> out;
    const std::string dir = foreignDir();
    if (dir.empty()) return out;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() == ".iso") out.push_back(entry.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

MinutiaSet setOf(const std::vector<uint8_t>& featureTemplate) {
    MinutiaSet set{};
    EXPECT_EQ(unpackTemplate(featureTemplate.data(), &set), 0);
    return set;
}

}  // namespace

TEST(InterchangeRealData, EveryRealTemplateRoundTripsExactly) {
    const std::vector<Extracted> all = extractRealPrints("");
    if (all.empty()) GTEST_SKIP() << "no real prints";
    size_t checked = 0;
    for (const Extracted& e : all) {
        if (e.featureTemplate.empty()) continue;
        for (RecordFormat format : {RecordFormat::Iso, RecordFormat::Ansi}) {
            ExportSettings s;
            s.format = format;
            s.width = e.width;
            s.height = e.height;
            const std::vector<uint8_t> record = exportRecord(e.featureTemplate.data(), s);
            const ImportedTemplate back = importRecord(record.data(), record.size());
            ASSERT_EQ(back.featureTemplate, e.featureTemplate) << e.path << " " << formatName(format);
        }
        ++checked;
    }
    EXPECT_GT(checked, all.size() * 9 / 10);
}

TEST(InterchangeRealData, EveryForeignRecordImports) {
    const std::vector<std::string> records = foreignRecords();
    if (records.empty()) GTEST_SKIP() << "no foreign records";
    EXPECT_EQ(records.size(), 80u);
    size_t overSixty = 0;
    for (const std::string& path : records) {
        const std::vector<uint8_t> bytes = test::readFile(path);
        ImportedTemplate in;
        ASSERT_NO_THROW(in = importRecord(bytes.data(), bytes.size())) << path;
        EXPECT_EQ(in.format, RecordFormat::Iso);
        EXPECT_FALSE(in.ownBlockUsed);
        const MinutiaSet set = setOf(in.featureTemplate);
        EXPECT_EQ(set.count, std::min(in.recordMinutiae, kMaxMinutiae)) << path;
        overSixty += in.recordMinutiae > kMaxMinutiae ? 1 : 0;
        for (int32_t i = 0; i < set.count; ++i) {
            EXPECT_TRUE(set.minutiae[i].kind == kEnding || set.minutiae[i].kind == kBifurcation);
            EXPECT_EQ(set.minutiae[i].ringOrientation[0], kNoRingOrientation);
        }
        // What came in goes out and back unchanged.
        ExportSettings s;
        s.width = in.width;
        s.height = in.height;
        const std::vector<uint8_t> again = exportRecord(in.featureTemplate.data(), s);
        EXPECT_EQ(importRecord(again.data(), again.size()).featureTemplate, in.featureTemplate) << path;
    }
    EXPECT_EQ(overSixty, 1u);  // 104_7 holds 61
}

namespace {

// A minutia in the pixels and degrees of this project's extraction of a BMP.
struct Placed {
    double x, y, direction;
    int32_t kind;
};

double angleBetween(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180 ? 360 - d : d;
}

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Agreement {
    size_t foreign = 0;
    size_t near = 0;    // one of ours within kNearPixels
    size_t paired = 0;  // ... and its direction within kAgreeDegrees
    size_t sameKind = 0;
    double medianPixels = 0;   // over the near ones
    double medianDegrees = 0;  // over the near ones
    double share() const { return foreign ? double(paired) / double(foreign) : 0; }
};

constexpr double kNearPixels = 6;
constexpr double kAgreeDegrees = 30;

// Ways of reading the foreign minutiae: the documented one (as imported)
// and the alternatives it was chosen over.
enum class Reading { AsImported, YNotTurned, ClockwiseAngles, EndingsHalfTurned, BifurcationsHalfTurned };

// The prints the foreign records were made from.
const std::vector<Extracted>& sourcePrints() {
    static const std::vector<Extracted> prints = extractRealPrints("fvc2002_db1_b");
    return prints;
}

Agreement measure(Reading reading) {
    std::map<std::string, const Extracted*> ours;
    for (const Extracted& e : sourcePrints()) {
        if (!e.featureTemplate.empty()) ours[fs::path(e.path).stem().string()] = &e;
    }
    Agreement a;
    std::vector<double> pixels, degrees;
    for (const std::string& path : foreignRecords()) {
        const auto it = ours.find(fs::path(path).stem().string());
        if (it == ours.end()) continue;
        const Extracted& own = *it->second;
        const std::vector<uint8_t> bytes = test::readFile(path);
        const ImportedTemplate in = importRecord(bytes.data(), bytes.size());
        const MinutiaSet theirs = setOf(in.featureTemplate);
        const MinutiaSet mine = setOf(own.featureTemplate);
        // The foreign extractor saw the print resized to the record's size.
        const double sx = double(own.width) / in.width, sy = double(own.height) / in.height;
        for (int32_t i = 0; i < theirs.count; ++i) {
            const Minutia& m = theirs.minutiae[i];
            double y = m.y, direction = m.direction;
            switch (reading) {
                case Reading::AsImported: break;
                case Reading::YNotTurned: y = in.height - 1 - y; break;
                case Reading::ClockwiseAngles: direction = 360 - direction; break;
                case Reading::EndingsHalfTurned: direction += m.kind == kEnding ? 180 : 0; break;
                case Reading::BifurcationsHalfTurned: direction += m.kind == kBifurcation ? 180 : 0; break;
            }
            const double radians = direction * M_PI / 180;
            Placed p{(m.x + 0.5) * sx - 0.5, (y + 0.5) * sy - 0.5,
                     std::atan2(std::sin(radians) * sy, std::cos(radians) * sx) * 180 / M_PI, m.kind};
            ++a.foreign;
            double best = 1e9;
            const Minutia* nearest = nullptr;
            for (int32_t j = 0; j < mine.count; ++j) {
                const double d = std::hypot(mine.minutiae[j].x - p.x, mine.minutiae[j].y - p.y);
                if (d < best) {
                    best = d;
                    nearest = &mine.minutiae[j];
                }
            }
            if (!nearest || best > kNearPixels) continue;
            ++a.near;
            const double turn = angleBetween(nearest->direction, p.direction);
            pixels.push_back(best);
            degrees.push_back(turn);
            if (turn <= kAgreeDegrees) ++a.paired;
            if (nearest->kind == p.kind) ++a.sameKind;
        }
    }
    a.medianPixels = median(pixels);
    a.medianDegrees = median(degrees);
    return a;
}

}  // namespace

TEST(InterchangeRealData, ForeignMinutiaeAgreeWithOursUnderTheDocumentedConventions) {
    if (foreignRecords().empty() || sourcePrints().empty()) GTEST_SKIP() << "no foreign records or prints";
    const struct {
        Reading reading;
        const char* name;
    } readings[] = {
        {Reading::AsImported, "as imported (documented)"},
        {Reading::YNotTurned, "y axis not turned"},
        {Reading::ClockwiseAngles, "angles clockwise"},
        {Reading::EndingsHalfTurned, "endings turned 180"},
        {Reading::BifurcationsHalfTurned, "bifurcations turned 180"},
    };
    std::printf("foreign minutiae against ours (near: within %.0f px; paired: and within %.0f degrees)\n",
                kNearPixels, kAgreeDegrees);
    std::printf("%-26s %8s %7s %7s %8s %9s %9s\n", "reading", "foreign", "near", "paired", "share", "median px",
                "median deg");
    std::vector<Agreement> results;
    for (const auto& r : readings) {
        const Agreement a = measure(r.reading);
        std::printf("%-26s %8zu %7zu %7zu %7.1f%% %9.2f %9.1f\n", r.name, a.foreign, a.near, a.paired,
                    100 * a.share(), a.medianPixels, a.medianDegrees);
        results.push_back(a);
    }
    const Agreement& documented = results[0];
    std::printf("same kind among the near ones: %.1f%%\n",
                documented.near ? 100.0 * double(documented.sameKind) / double(documented.near) : 0.0);
    ASSERT_GT(documented.foreign, 2000u);
    EXPECT_GT(documented.share(), 0.6);
    EXPECT_LT(documented.medianPixels, 3.0);
    EXPECT_LT(documented.medianDegrees, 10.0);
    EXPECT_GT(double(documented.sameKind), 0.75 * double(documented.near));
    for (size_t i = 1; i < results.size(); ++i) {
        EXPECT_LT(results[i].share(), documented.share() - 0.2) << readings[i].name;
    }
}
