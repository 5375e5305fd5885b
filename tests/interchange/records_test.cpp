// Interchange records and text minutiae on small hand-made fixtures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/feature_template.h"
#include "interchange/interchange.h"

using namespace orvane;
using namespace orvane::interchange;

namespace {

Minutia minutia(int32_t x, int32_t y, int32_t direction, int32_t kind, int32_t r0 = 10, int32_t r1 = 100,
                int32_t r2 = 179) {
    Minutia m{};
    m.x = x;
    m.y = y;
    m.direction = direction;
    m.kind = kind;
    m.ringOrientation[0] = r0;
    m.ringOrientation[1] = r1;
    m.ringOrientation[2] = r2;
    return m;
}

std::vector<uint8_t> templateOf(const std::vector<Minutia>& minutiae) {
    MinutiaSet set{};
    for (const Minutia& m : minutiae) set.minutiae[set.count++] = m;
    std::vector<uint8_t> t(kMaxTemplateBytes);
    t.resize(static_cast<size_t>(packTemplate(&set, t.data())));
    return t;
}

MinutiaSet setOf(const std::vector<uint8_t>& featureTemplate) {
    MinutiaSet set{};
    EXPECT_EQ(unpackTemplate(featureTemplate.data(), &set), 0);
    return set;
}

ExportSettings settingsFor(RecordFormat format, int32_t width = 388, int32_t height = 374) {
    ExportSettings s;
    s.format = format;
    s.width = width;
    s.height = height;
    return s;
}

ImportedTemplate importBytes(const std::vector<uint8_t>& bytes, int32_t view = 0) {
    return importRecord(bytes.data(), bytes.size(), view);
}

// Expects fn to throw InterchangeError whose message contains part.
template <typename Fn>
void expectRefused(Fn fn, const std::string& part, const std::string& label) {
    try {
        fn();
        ADD_FAILURE() << label << ": accepted";
    } catch (const InterchangeError& e) {
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << label << ": " << e.what();
    }
}

// A one-view ISO record of a few foreign minutiae, as another program writes it.
std::vector<uint8_t> foreignIso() {
    return {'F', 'M', 'R', 0, ' ', '2', '0', 0, 0, 0, 0, 48,  // length 48
            0, 0, 0x01, 0x2C, 0x01, 0x90,                      // equipment, 300 x 400
            0, 197, 0, 197, 1, 0,                              // 197 px/cm, one view
            3, 0x12, 60, 3,                                    // finger 3, view 1 rolled, quality 60, 3 minutiae
            0x40, 10, 0, 20, 64, 50,                           // ending (10, 20), 90 degrees
            0x80, 0, 0, 0, 255, 40,                            // bifurcation (0, 0), 359 degrees
            0x01, 0x2B, 0x01, 0x8F, 128, 0,                    // other (299, 399), 180 degrees
            0, 0};
}

}  // namespace

TEST(InterchangeRecords, TemplateRoundTripsThroughBothFormatsExactly) {
    const std::vector<uint8_t> t = templateOf({minutia(0, 0, 0, kEnding), minutia(387, 373, 359, kBifurcation),
                                               minutia(100, 200, 1, kEnding, 255, 0, 255),
                                               minutia(17, 300, 271, 0), minutia(55, 66, 45, kBifurcation)});
    for (RecordFormat format : {RecordFormat::Iso, RecordFormat::Ansi}) {
        ExportSettings s = settingsFor(format);
        s.fingerPosition = 7;
        s.impressionType = 1;
        s.fingerQuality = 83;
        const std::vector<uint8_t> record = exportRecord(t.data(), s);
        const ImportedTemplate back = importBytes(record);
        EXPECT_EQ(back.featureTemplate, t) << formatName(format);
        EXPECT_TRUE(back.ownBlockUsed);
        EXPECT_EQ(back.format, format);
        EXPECT_EQ(back.width, 388);
        EXPECT_EQ(back.height, 374);
        EXPECT_EQ(back.fingerPosition, 7);
        EXPECT_EQ(back.impressionType, 1);
        EXPECT_EQ(back.fingerQuality, 83);

        // The record's own fields, in its units and with y from the top.
        const MinutiaeRecord r = parseMinutiaeRecord(record.data(), record.size());
        EXPECT_EQ(r.xResolution, 197);
        ASSERT_EQ(r.views.size(), 1u);
        const auto& m = r.views[0].minutiae;
        ASSERT_EQ(m.size(), 5u);
        EXPECT_EQ(m[0].type, kTypeRidgeEnding);
        EXPECT_EQ(m[0].y, 373);
        EXPECT_EQ(m[1].type, kTypeBifurcation);
        EXPECT_EQ(m[1].x, 387);
        EXPECT_EQ(m[1].y, 0);
        EXPECT_EQ(m[3].type, kTypeOther);
        EXPECT_EQ(m[4].quality, 83);
        if (format == RecordFormat::Iso) {
            EXPECT_EQ(m[1].angle, 255);  // 359 degrees -> 255.3 units
            EXPECT_EQ(m[3].angle, 193);  // 271 -> 192.7
            EXPECT_EQ(m[4].angle, 32);
        } else {
            EXPECT_EQ(m[1].angle, 0);    // 359 -> 179.5 rounds up to a full turn
            EXPECT_EQ(m[3].angle, 136);  // 271 -> 135.5
            EXPECT_EQ(m[4].angle, 23);   // 45 -> 22.5
        }
    }
}

TEST(InterchangeRecords, WritesTheByteLayoutOfEachFormat) {
    const std::vector<uint8_t> t = templateOf({minutia(10, 379, 90, kEnding)});
    ExportSettings s = settingsFor(RecordFormat::Iso, 300, 400);
    s.withOwnBlock = false;
    s.fingerPosition = 3;
    s.fingerQuality = 60;
    const std::vector<uint8_t> iso = exportRecord(t.data(), s);
    const std::vector<uint8_t> expectedIso = {'F', 'M', 'R', 0, ' ', '2', '0', 0, 0, 0, 0, 36,
                                              0, 0, 0x01, 0x2C, 0x01, 0x90, 0, 197, 0, 197, 1, 0,
                                              3, 0x00, 60, 1, 0x40, 10, 0, 20, 64, 60, 0, 0};
    EXPECT_EQ(iso, expectedIso);

    s.format = RecordFormat::Ansi;
    const std::vector<uint8_t> ansi = exportRecord(t.data(), s);
    const std::vector<uint8_t> expectedAnsi = {'F', 'M', 'R', 0, ' ', '2', '0', 0, 0, 38, 0, 0, 0, 0,
                                               0, 0, 0x01, 0x2C, 0x01, 0x90, 0, 197, 0, 197, 1, 0,
                                               3, 0x00, 60, 1, 0x40, 10, 0, 20, 45, 60, 0, 0};
    EXPECT_EQ(ansi, expectedAnsi);

    s.dpi = 1000;
    EXPECT_EQ(parseMinutiaeRecord(exportRecord(t.data(), s).data(), 38).xResolution, 394);
}

TEST(InterchangeRecords, ImportsForeignRecordWithoutOurBlock) {
    const ImportedTemplate in = importBytes(foreignIso());
    EXPECT_FALSE(in.ownBlockUsed);
    EXPECT_EQ(in.fingerPosition, 3);
    EXPECT_EQ(in.impressionType, 2);
    EXPECT_EQ(in.fingerQuality, 60);
    const MinutiaSet set = setOf(in.featureTemplate);
    ASSERT_EQ(set.count, 3);
    const int32_t expected[3][4] = {{10, 379, 90, kEnding}, {0, 399, 359, kBifurcation}, {299, 0, 180, 0}};
    for (int i = 0; i < 3; ++i) {
        const Minutia& m = set.minutiae[i];
        EXPECT_EQ(m.x, expected[i][0]) << i;
        EXPECT_EQ(m.y, expected[i][1]) << i;
        EXPECT_EQ(m.direction, expected[i][2]) << i;
        EXPECT_EQ(m.kind, expected[i][3]) << i;
        for (int k = 0; k < 3; ++k) EXPECT_EQ(m.ringOrientation[k], kNoRingOrientation);
    }
}

TEST(InterchangeRecords, OurBlockIsIgnoredWhenTheRecordNoLongerAgreesWithIt) {
    const std::vector<uint8_t> t = templateOf({minutia(5, 6, 100, kEnding), minutia(50, 60, 200, kBifurcation)});
    std::vector<uint8_t> record = exportRecord(t.data(), settingsFor(RecordFormat::Iso));
    record[24 + 4 + 6 + 4] = 200;  // another program turned the second minutia
    const MinutiaSet set = setOf(importBytes(record).featureTemplate);
    EXPECT_EQ(set.minutiae[0].direction, 100);  // 71.1 units -> 71 -> 99.8 degrees
    EXPECT_EQ(set.minutiae[1].direction, 281);  // 200 units: 281.25 degrees
    EXPECT_EQ(set.minutiae[1].ringOrientation[0], kNoRingOrientation);
}

TEST(InterchangeRecords, ChoosesSixtyMinutiaeByQualityThenCentreAndKeepsRecordOrder) {
    MinutiaeRecord r;
    r.width = 640;
    r.height = 480;
    FingerView v;
    // 70 minutiae on a row: qualities 50 except minutiae 0..4 at 90; the
    // centroid is at index 34.5.
    for (int i = 0; i < 70; ++i) {
        RecordMinutia m;
        m.type = kTypeRidgeEnding;
        m.x = 10 + 8 * i;
        m.y = 100;
        m.quality = i < 5 ? 90 : 50;
        v.minutiae.push_back(m);
    }
    r.views.push_back(v);
    const std::vector<uint8_t> bytes = encodeMinutiaeRecord(r);
    const ImportedTemplate in = importBytes(bytes);
    EXPECT_EQ(in.recordMinutiae, 70);
    const MinutiaSet set = setOf(in.featureTemplate);
    ASSERT_EQ(set.count, 60);
    std::vector<int32_t> kept;
    for (int i = 0; i < set.count; ++i) kept.push_back((set.minutiae[i].x - 10) / 8);
    // The five of quality 90, then the 55 of the rest nearest the centroid;
    // 7 and 62 lie equally far, and the earlier one stays.
    std::vector<int32_t> expected = {0, 1, 2, 3, 4};
    for (int i = 7; i <= 61; ++i) expected.push_back(i);
    EXPECT_EQ(kept, expected);
}

TEST(InterchangeRecords, RescalesOtherResolutionsTo500Dpi) {
    MinutiaeRecord r;
    r.format = RecordFormat::Ansi;
    r.width = 1000;
    r.height = 800;
    r.xResolution = 394;  // 1000 dpi
    r.yResolution = 394;
    FingerView v;
    v.minutiae.push_back({kTypeRidgeEnding, 999, 0, 45, 0});
    v.minutiae.push_back({kTypeBifurcation, 301, 799, 0, 0});
    r.views.push_back(v);
    const std::vector<uint8_t> bytes = encodeMinutiaeRecord(r);
    ImportedTemplate in = importBytes(bytes);
    EXPECT_EQ(in.width, 500);
    EXPECT_EQ(in.height, 400);
    MinutiaSet set = setOf(in.featureTemplate);
    EXPECT_EQ(set.minutiae[0].x, 499);  // 499.5 rounds past the edge and is held inside
    EXPECT_EQ(set.minutiae[0].y, 399);
    EXPECT_EQ(set.minutiae[0].direction, 90);
    EXPECT_EQ(set.minutiae[1].x, 151);  // 150.5
    EXPECT_EQ(set.minutiae[1].y, 0);

    // Unequal scales also turn directions: y shrinks by half, so 60 degrees
    // becomes atan(tan 60 / 2) = 40.9.
    r.yResolution = 197 * 2;
    r.xResolution = 197;
    r.width = 500;
    r.views[0].minutiae = {{kTypeRidgeEnding, 10, 10, 30, 0}, {kTypeRidgeEnding, 10, 10, 0, 0}};
    in = importBytes(encodeMinutiaeRecord(r));
    set = setOf(in.featureTemplate);
    EXPECT_EQ(set.minutiae[0].direction, 41);
    EXPECT_EQ(set.minutiae[0].y, 399 - 5);
    EXPECT_EQ(set.minutiae[1].direction, 0);
}

TEST(InterchangeRecords, ChoosesTheViewAndRefusesPositionsThatDoNotFit) {
    MinutiaeRecord r;
    r.width = 300;
    r.height = 400;
    FingerView first, second;
    first.minutiae.push_back({kTypeRidgeEnding, 1, 2, 0, 0});
    second.minutiae.push_back({kTypeBifurcation, 3, 4, 0, 0});
    second.minutiae.push_back({kTypeBifurcation, 5, 6, 0, 0});
    r.views = {first, second};
    std::vector<uint8_t> bytes = encodeMinutiaeRecord(r);
    EXPECT_EQ(setOf(importBytes(bytes).featureTemplate).count, 1);
    const MinutiaSet chosen = setOf(importBytes(bytes, 1).featureTemplate);
    ASSERT_EQ(chosen.count, 2);
    EXPECT_EQ(chosen.minutiae[1].x, 5);
    EXPECT_EQ(chosen.minutiae[1].y, 393);
    expectRefused([&] { importBytes(bytes, 2); }, "no finger view 2", "view 2");
    expectRefused([&] { importBytes(bytes, -1); }, "no finger view", "view -1");

    r.views = {first};
    r.views[0].minutiae[0].x = 300;
    bytes = encodeMinutiaeRecord(r);
    expectRefused([&] { importBytes(bytes); }, "outside the record's 300 x 400 image", "x on the edge");
    r.width = 1000;
    r.views[0].minutiae[0].x = 640;
    expectRefused([&] { importBytes(encodeMinutiaeRecord(r)); }, "outside its 640 x 480 frame", "x 640");
    r.views[0].minutiae[0].x = 639;
    EXPECT_EQ(setOf(importBytes(encodeMinutiaeRecord(r)).featureTemplate).minutiae[0].x, 639);
    r.height = 481;  // y 0 from the top becomes 480 from the bottom
    r.views[0].minutiae[0].y = 0;
    expectRefused([&] { importBytes(encodeMinutiaeRecord(r)); }, "640 x 480", "y 480");
    r.height = 0;
    expectRefused([&] { importBytes(encodeMinutiaeRecord(r)); }, "cannot be placed", "height 0");
}

TEST(InterchangeRecords, RefusesHostileRecords) {
    const std::vector<uint8_t> good = foreignIso();
    ASSERT_NO_THROW(importBytes(good));
    auto edited = [&](std::vector<std::pair<size_t, uint8_t>> changes, size_t resize = 0) {
        std::vector<uint8_t> b = good;
        if (resize) b.resize(resize, 0);
        for (auto& c : changes) b[c.first] = c.second;
        return b;
    };
    // A block of ours whose length says more than its area holds.
    std::vector<uint8_t> overrun = good;
    overrun.resize(good.size() - 2);
    overrun.insert(overrun.end(), {0, 9, 0x4F, 0x56, 0, 20, 'O', 'R', 'V', '1', 3});
    overrun[11] = static_cast<uint8_t>(overrun.size());

    struct Case {
        const char* label;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"empty", {}, "not a finger minutiae record"},
        {"other mark", edited({{0, 'X'}}), "not a finger minutiae record"},
        {"mark only", {'F', 'M', 'R', 0}, "truncated"},
        {"unknown version", edited({{5, '3'}}), "version \" 30\" is not supported"},
        {"length says more", edited({{11, 49}}), "length field says 49 bytes but the data has 48"},
        {"length says less", edited({{11, 47}}), "says 47"},
        {"data beyond length", edited({}, 50), "says 48 bytes but the data has 50"},
        {"zero views", edited({{22, 0}}), "no finger view"},
        {"two views, data for one", edited({{22, 2}}), "says 2 finger views but the data ends after 1"},
        {"minutia count beyond data", edited({{27, 4}}), "4 minutiae"},
        {"minutia count short of data", edited({{27, 2}}), "extended data"},
        {"extended length beyond data", edited({{47, 9}}), "extended data needs 9 bytes"},
        {"extended blocks overrun", overrun, "overrun their area of 9 bytes"},
        {"reserved minutia type", edited({{28, 0xC0}}), "reserved minutia type"},
        {"view header cut", edited({{11, 24}}, 24), "says 1 finger views but the data ends after 0"},
    };
    for (const Case& c : cases) {
        expectRefused([&] { importBytes(c.bytes); }, c.message, c.label);
    }

    // ANSI: angles over 179 units do not exist.
    ExportSettings s = settingsFor(RecordFormat::Ansi);
    s.withOwnBlock = false;
    std::vector<uint8_t> ansi = exportRecord(templateOf({minutia(1, 1, 0, kEnding)}).data(), s);
    ansi[26 + 4 + 4] = 180;
    expectRefused([&] { importBytes(ansi); }, "over 179", "ANSI angle 180");

    // Every cut of a valid record of ours is refused, never read past.
    const std::vector<uint8_t> t = templateOf({minutia(5, 6, 7, kEnding), minutia(8, 9, 10, kBifurcation)});
    for (RecordFormat format : {RecordFormat::Iso, RecordFormat::Ansi}) {
        const std::vector<uint8_t> whole = exportRecord(t.data(), settingsFor(format));
        for (size_t n = 0; n < whole.size(); ++n) {
            const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_THROW(importRecord(cut.data(), cut.size()), InterchangeError) << formatName(format) << " " << n;
        }
    }
}

TEST(InterchangeRecords, ExportRefusesWhatTheFormatsCannotHold) {
    const std::vector<uint8_t> t = templateOf({minutia(100, 50, 0, kEnding)});
    expectRefused([&] { exportRecord(t.data(), settingsFor(RecordFormat::Iso, 100, 374)); },
                  "minutia 0 at (100, 50) lies outside the 100 x 374 image", "outside");
    expectRefused([&] { exportRecord(t.data(), settingsFor(RecordFormat::Iso, 0, 0)); }, "image width 0", "no size");
    expectRefused([&] { exportRecord(templateOf({minutia(1, 1, 0, 5)}).data(), settingsFor(RecordFormat::Iso)); },
                  "kind 5", "kind");
    std::vector<uint8_t> damaged = t;
    damaged[4] ^= 1;
    expectRefused([&] { exportRecord(damaged.data(), settingsFor(RecordFormat::Iso)); }, "template damaged", "check");
    ExportSettings s = settingsFor(RecordFormat::Iso);
    s.fingerPosition = 11;
    expectRefused([&] { exportRecord(t.data(), s); }, "finger position 11", "finger");
}

TEST(InterchangeText, WritesAndReadsMinutiaLines) {
    const std::vector<uint8_t> t = templateOf({minutia(12, 34, 270, kEnding), minutia(639, 479, 0, kBifurcation)});
    const std::string text = exportText(t.data(), 40);
    EXPECT_EQ(text, "12 34 270 40\n639 479 0 40\n");
    EXPECT_TRUE(looksLikeTextMinutiae(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    EXPECT_FALSE(looksLikeTextMinutiae(t.data(), t.size()));

    const MinutiaSet set = setOf(importText("# x y angle quality\n\n12 34 270 40\r\n  639\t479 0 40 # last\n"));
    ASSERT_EQ(set.count, 2);
    EXPECT_EQ(set.minutiae[0].x, 12);
    EXPECT_EQ(set.minutiae[0].y, 34);
    EXPECT_EQ(set.minutiae[0].direction, 270);
    EXPECT_EQ(set.minutiae[1].kind, kEnding);  // the format has no type
    EXPECT_EQ(set.minutiae[1].ringOrientation[2], kNoRingOrientation);

    std::string many;
    for (int i = 0; i < 61; ++i) many += std::to_string(i) + " 5 0 " + (i == 60 ? "9" : "0") + "\n";
    const MinutiaSet sixty = setOf(importText(many));
    ASSERT_EQ(sixty.count, 60);
    EXPECT_EQ(sixty.minutiae[59].x, 60);  // highest quality kept
    EXPECT_EQ(sixty.minutiae[0].x, 1);    // 0 was the farthest from the centre

    const struct {
        const char* text;
        const char* message;
    } bad[] = {
        {"1 2 3\n", "line 1: expected \"x y angle quality\", found 3 fields"},
        {"1 2 3 4 5\n", "found 5 fields"},
        {"\n1 2 x 4\n", "line 2: angle \"x\" is not a whole number from 0 to 359"},
        {"640 2 3 4\n", "x \"640\" is not a whole number from 0 to 639"},
        {"1 480 3 4\n", "y \"480\""},
        {"1 2 360 4\n", "angle \"360\""},
        {"1 2 3 101\n", "quality \"101\""},
        {"-1 2 3 4\n", "x \"-1\""},
        {"1.5 2 3 4\n", "x \"1.5\""},
        {"1 2 3 99999999999999999999\n", "quality"},
    };
    for (const auto& b : bad) expectRefused([&] { importText(b.text); }, b.message, b.text);
}
