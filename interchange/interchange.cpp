#include "interchange/interchange.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <sstream>

#include "formats/feature_template.h"
#include "core/minutia.h"
#include "workspace/workspace.h"

namespace orvane::interchange {

namespace {

constexpr int32_t kMaxImageSide = 0xFFFF;  // 16 bits in the header
constexpr int32_t kMaxFingerPosition = 10;
constexpr int32_t kMaxQuality = 100;
constexpr int32_t kIsoAngleUnits = 256;  // a full turn
constexpr int32_t kAnsiDegreesPerUnit = 2;
constexpr int32_t kDirectionLimit = 512;  // the template's 9 bits
constexpr size_t kOwnBlockEntryBytes = 5;  // direction (2 bytes), three ring orientations
constexpr size_t kOwnBlockHeadBytes = sizeof kOwnBlockMark + 1;  // mark, count

int32_t roundedQuotient(int64_t numerator, int64_t denominator) {
    return static_cast<int32_t>((2 * numerator + denominator) / (2 * denominator));
}

MinutiaSet unpackChecked(const uint8_t* featureTemplate) {
    if (!featureTemplate) throw InterchangeError("no template");
    if (!isWellFormedTemplate(featureTemplate)) {
        throw InterchangeError("template damaged (length, count or check byte wrong)");
    }
    MinutiaSet set{};
    unpackTemplate(featureTemplate, &set);
    return set;
}

std::vector<uint8_t> packChecked(const MinutiaSet& set) {
    std::vector<uint8_t> out(kMaxTemplateBytes, 0);
    const int32_t length = packTemplate(&set, out.data());
    if (length < 4) throw InterchangeError("cannot pack a template of " + std::to_string(set.count) + " minutiae");
    out.resize(static_cast<size_t>(length));
    return out;
}

// Record angle of a direction in whole degrees, and back.
int32_t recordAngle(int32_t direction, RecordFormat format) {
    const int32_t degrees = direction % 360;
    if (format == RecordFormat::Ansi) return roundedQuotient(degrees, kAnsiDegreesPerUnit) % (360 / kAnsiDegreesPerUnit);
    return roundedQuotient(int64_t(degrees) * kIsoAngleUnits, 360) % kIsoAngleUnits;
}

int32_t directionOfAngle(int32_t angle, RecordFormat format) {
    if (format == RecordFormat::Ansi) return angle * kAnsiDegreesPerUnit;
    return roundedQuotient(int64_t(angle) * 360, kIsoAngleUnits) % 360;
}

int32_t kindOfType(int32_t type) {
    return type == kTypeRidgeEnding ? kEnding : type == kTypeBifurcation ? kBifurcation : 0;
}

std::string minutiaName(size_t index) { return "minutia " + std::to_string(index); }

// Indices of at most kMaxMinutiae minutiae to keep, in their original order:
// highest quality first, then nearest the centroid, then the earlier one.
std::vector<size_t> chooseMinutiae(const std::vector<int32_t>& xs, const std::vector<int32_t>& ys,
                                   const std::vector<int32_t>& qualities) {
    const size_t n = xs.size();
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t(0));
    if (n <= static_cast<size_t>(kMaxMinutiae)) return order;
    // Distances to the centroid scaled by n, so they stay whole numbers.
    const int64_t sumX = std::accumulate(xs.begin(), xs.end(), int64_t(0));
    const int64_t sumY = std::accumulate(ys.begin(), ys.end(), int64_t(0));
    std::vector<int64_t> spread(n);
    for (size_t i = 0; i < n; ++i) {
        const int64_t dx = int64_t(xs[i]) * int64_t(n) - sumX;
        const int64_t dy = int64_t(ys[i]) * int64_t(n) - sumY;
        spread[i] = dx * dx + dy * dy;
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (qualities[a] != qualities[b]) return qualities[a] > qualities[b];
        return spread[a] < spread[b];
    });
    order.resize(kMaxMinutiae);
    std::sort(order.begin(), order.end());
    return order;
}

// Our block's direction and ring orientations for every minutia of a view,
// or nothing when the view has no block of ours that agrees with it.
struct OwnEntry {
    int32_t direction;
    int32_t ring[3];
};

std::vector<OwnEntry> ownBlockOf(const FingerView& view, RecordFormat format) {
    for (const ExtendedBlock& block : view.blocks) {
        if (block.type != kOwnBlockType || block.data.size() < kOwnBlockHeadBytes) continue;
        if (std::memcmp(block.data.data(), kOwnBlockMark, sizeof kOwnBlockMark) != 0) continue;
        const size_t count = block.data[sizeof kOwnBlockMark];
        if (count != view.minutiae.size() || block.data.size() != kOwnBlockHeadBytes + count * kOwnBlockEntryBytes) {
            continue;
        }
        std::vector<OwnEntry> entries(count);
        bool agrees = true;
        for (size_t i = 0; i < count && agrees; ++i) {
            const uint8_t* e = block.data.data() + kOwnBlockHeadBytes + i * kOwnBlockEntryBytes;
            entries[i].direction = e[0] << 8 | e[1];
            for (int k = 0; k < 3; ++k) entries[i].ring[k] = e[2 + k];
            // A record edited by another program may keep a stale block.
            agrees = entries[i].direction < kDirectionLimit &&
                     recordAngle(entries[i].direction, format) == view.minutiae[i].angle;
        }
        if (agrees) return entries;
    }
    return {};
}

ExtendedBlock makeOwnBlock(const MinutiaSet& set) {
    ExtendedBlock block;
    block.type = kOwnBlockType;
    block.data.assign(kOwnBlockMark, kOwnBlockMark + sizeof kOwnBlockMark);
    block.data.push_back(static_cast<uint8_t>(set.count));
    for (int32_t i = 0; i < set.count; ++i) {
        const Minutia& m = set.minutiae[i];
        block.data.push_back(static_cast<uint8_t>(m.direction >> 8));
        block.data.push_back(static_cast<uint8_t>(m.direction));
        for (int k = 0; k < 3; ++k) block.data.push_back(static_cast<uint8_t>(m.ringOrientation[k]));
    }
    return block;
}

void checkSetting(int32_t value, int32_t low, int32_t high, const char* what) {
    if (value < low || value > high) {
        throw InterchangeError(std::string(what) + " " + std::to_string(value) + " is outside " + std::to_string(low) +
                               ".." + std::to_string(high));
    }
}

}  // namespace

int32_t pixelsPerCm(int32_t dpi) { return roundedQuotient(int64_t(dpi) * 100, 254); }

std::vector<uint8_t> exportRecord(const uint8_t* featureTemplate, const ExportSettings& settings) {
    const MinutiaSet set = unpackChecked(featureTemplate);
    checkSetting(settings.width, 1, kMaxImageSide, "image width");
    checkSetting(settings.height, 1, kMaxImageSide, "image height");
    if (settings.dpi < 1 || pixelsPerCm(settings.dpi) < 1 || pixelsPerCm(settings.dpi) > 0xFFFF) {
        throw InterchangeError("resolution of " + std::to_string(settings.dpi) + " dpi cannot be written");
    }
    checkSetting(settings.fingerPosition, 0, kMaxFingerPosition, "finger position");
    checkSetting(settings.impressionType, 0, 15, "impression type");
    checkSetting(settings.fingerQuality, -1, kMaxQuality, "finger quality");
    const int32_t quality = std::max(settings.fingerQuality, 0);

    MinutiaeRecord record;
    record.format = settings.format;
    record.width = settings.width;
    record.height = settings.height;
    record.xResolution = record.yResolution = pixelsPerCm(settings.dpi);
    FingerView view;
    view.fingerPosition = settings.fingerPosition;
    view.impressionType = settings.impressionType;
    view.fingerQuality = quality;
    for (int32_t i = 0; i < set.count; ++i) {
        const Minutia& m = set.minutiae[i];
        if (m.kind != 0 && m.kind != kEnding && m.kind != kBifurcation) {
            throw InterchangeError(minutiaName(size_t(i)) + " has kind " + std::to_string(m.kind) +
                                   ", which the formats cannot hold");
        }
        if (m.x >= settings.width || m.y >= settings.height) {
            throw InterchangeError(minutiaName(size_t(i)) + " at (" + std::to_string(m.x) + ", " + std::to_string(m.y) +
                                   ") lies outside the " + std::to_string(settings.width) + " x " +
                                   std::to_string(settings.height) + " image");
        }
        RecordMinutia rm;
        rm.type = m.kind == kEnding ? kTypeRidgeEnding : m.kind == kBifurcation ? kTypeBifurcation : kTypeOther;
        rm.x = m.x;
        rm.y = settings.height - 1 - m.y;
        rm.angle = recordAngle(m.direction, settings.format);
        rm.quality = quality;
        view.minutiae.push_back(rm);
    }
    if (settings.withOwnBlock) view.blocks.push_back(makeOwnBlock(set));
    record.views.push_back(std::move(view));
    return encodeMinutiaeRecord(record);
}

ImportedTemplate importRecord(const uint8_t* data, size_t size, int32_t viewIndex) {
    const MinutiaeRecord record = parseMinutiaeRecord(data, size);
    if (viewIndex < 0 || static_cast<size_t>(viewIndex) >= record.views.size()) {
        throw InterchangeError("no finger view " + std::to_string(viewIndex) + ": the record has " +
                               std::to_string(record.views.size()) + " (counted from 0)");
    }
    const FingerView& view = record.views[static_cast<size_t>(viewIndex)];
    if (record.width < 1 || record.height < 1) {
        throw InterchangeError("record gives an image of " + std::to_string(record.width) + " x " +
                               std::to_string(record.height) + " pixels, so its minutiae cannot be placed");
    }
    if (record.xResolution < 1 || record.yResolution < 1) {
        throw InterchangeError("record gives a resolution of 0 pixels per cm");
    }
    const bool rescaled = record.xResolution != kPixelsPerCmAt500Dpi || record.yResolution != kPixelsPerCmAt500Dpi;
    auto rescaleX = [&](int32_t v) { return roundedQuotient(int64_t(v) * kPixelsPerCmAt500Dpi, record.xResolution); };
    auto rescaleY = [&](int32_t v) { return roundedQuotient(int64_t(v) * kPixelsPerCmAt500Dpi, record.yResolution); };

    ImportedTemplate out;
    out.format = record.format;
    out.width = std::max(1, rescaleX(record.width));
    out.height = std::max(1, rescaleY(record.height));
    out.fingerPosition = view.fingerPosition;
    out.impressionType = view.impressionType;
    out.fingerQuality = view.fingerQuality;
    out.recordMinutiae = static_cast<int32_t>(view.minutiae.size());

    // A block of ours holds directions of the picture as written; after a
    // rescale the record's own angles are used.
    const std::vector<OwnEntry> own = rescaled ? std::vector<OwnEntry>() : ownBlockOf(view, record.format);
    out.ownBlockUsed = !own.empty();

    const size_t n = view.minutiae.size();
    std::vector<int32_t> xs(n), ys(n), qualities(n);
    std::vector<Minutia> all(n);
    for (size_t i = 0; i < n; ++i) {
        const RecordMinutia& rm = view.minutiae[i];
        if (rm.x >= record.width || rm.y >= record.height) {
            throw InterchangeError(minutiaName(i) + " at (" + std::to_string(rm.x) + ", " + std::to_string(rm.y) +
                                   ") lies outside the record's " + std::to_string(record.width) + " x " +
                                   std::to_string(record.height) + " image");
        }
        // Rounding may carry the last pixel one past the rescaled edge.
        const int32_t x = std::min(rescaleX(rm.x), out.width - 1);
        const int32_t y = out.height - 1 - std::min(rescaleY(rm.y), out.height - 1);
        if (x >= kMaxWidth || y >= kMaxHeight) {
            throw InterchangeError(minutiaName(i) + " at (" + std::to_string(rm.x) + ", " + std::to_string(rm.y) +
                                   ") of the record lies at (" + std::to_string(x) + ", " + std::to_string(y) +
                                   ") in a template, outside its 640 x 480 frame");
        }
        Minutia& m = all[i];
        m.x = x;
        m.y = y;
        m.kind = kindOfType(rm.type);
        if (out.ownBlockUsed) {
            m.direction = own[i].direction;
            for (int k = 0; k < 3; ++k) m.ringOrientation[k] = own[i].ring[k];
        } else {
            int32_t direction = directionOfAngle(rm.angle, record.format);
            if (record.xResolution != record.yResolution) {
                // Unequal scales turn directions: rescale the direction's vector too.
                const double radians = direction * 3.14159265358979323846 / 180;
                const double dx = std::cos(radians) / record.xResolution;
                const double dy = std::sin(radians) / record.yResolution;
                const double degrees = std::atan2(dy, dx) * 180 / 3.14159265358979323846;
                direction = static_cast<int32_t>(std::floor(degrees + 0.5));
                direction = ((direction % 360) + 360) % 360;
            }
            m.direction = direction;
            for (int k = 0; k < 3; ++k) m.ringOrientation[k] = kNoRingOrientation;
        }
        xs[i] = x;
        ys[i] = y;
        qualities[i] = rm.quality;
    }
    MinutiaSet set{};
    for (size_t i : chooseMinutiae(xs, ys, qualities)) set.minutiae[set.count++] = all[i];
    out.featureTemplate = packChecked(set);
    return out;
}

std::string exportText(const uint8_t* featureTemplate, int32_t quality) {
    const MinutiaSet set = unpackChecked(featureTemplate);
    checkSetting(quality, 0, kMaxQuality, "quality");
    std::string out;
    for (int32_t i = 0; i < set.count; ++i) {
        const Minutia& m = set.minutiae[i];
        out += std::to_string(m.x) + ' ' + std::to_string(m.y) + ' ' + std::to_string(m.direction % 360) + ' ' +
               std::to_string(quality) + '\n';
    }
    return out;
}

std::vector<uint8_t> importText(const std::string& text) {
    std::vector<int32_t> xs, ys, angles, qualities;
    std::istringstream lines(text);
    std::string line;
    size_t lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream fields(line);
        std::vector<std::string> tokens;
        for (std::string t; fields >> t;) tokens.push_back(t);
        if (tokens.empty()) continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (tokens.size() != 4) {
            throw InterchangeError(where + "expected \"x y angle quality\", found " + std::to_string(tokens.size()) +
                                   " fields");
        }
        static const char* const kNames[4] = {"x", "y", "angle", "quality"};
        static const int32_t kLimits[4] = {kMaxWidth - 1, kMaxHeight - 1, 359, kMaxQuality};
        int32_t values[4];
        for (int f = 0; f < 4; ++f) {
            const std::string& t = tokens[size_t(f)];
            errno = 0;
            char* end = nullptr;
            const long v = std::strtol(t.c_str(), &end, 10);
            if (t.empty() || *end != '\0' || errno != 0 || v < 0 || v > kLimits[f]) {
                throw InterchangeError(where + kNames[f] + " \"" + t + "\" is not a whole number from 0 to " +
                                       std::to_string(kLimits[f]));
            }
            values[f] = static_cast<int32_t>(v);
        }
        xs.push_back(values[0]);
        ys.push_back(values[1]);
        angles.push_back(values[2]);
        qualities.push_back(values[3]);
    }
    MinutiaSet set{};
    for (size_t i : chooseMinutiae(xs, ys, qualities)) {
        Minutia& m = set.minutiae[set.count++];
        m.x = xs[i];
        m.y = ys[i];
        m.direction = angles[i];
        m.kind = kEnding;
        for (int k = 0; k < 3; ++k) m.ringOrientation[k] = kNoRingOrientation;
    }
    return packChecked(set);
}

bool looksLikeTextMinutiae(const uint8_t* data, size_t size) {
    if (!data || size == 0) return false;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (!(c == '\n' || c == '\r' || c == '\t' || (c >= 32 && c < 127))) return false;
    }
    // The first line that is not blank or a comment starts with a number.
    bool lineStart = true;
    bool inComment = false;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            lineStart = true;
            inComment = false;
            continue;
        }
        if (inComment || c == ' ' || c == '\t' || c == '\r') continue;
        if (c == '#' && lineStart) {
            inComment = true;
            continue;
        }
        return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+';
    }
    return false;
}

}  // namespace orvane::interchange
