#include "gallery/row.h"

#include "formats/feature_template.h"

namespace orvane::gallery {

namespace {

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

}  // namespace

std::string checkPrintInfo(const PrintInfo& info) {
    if (info.subject.empty()) return "the subject is empty";
    if (info.subject.size() > kMaxSubjectBytes) {
        return "the subject is longer than " + std::to_string(kMaxSubjectBytes) + " bytes";
    }
    for (unsigned char c : info.subject) {
        if (isControl(c)) return "the subject holds a control character";
    }
    if (info.finger < 0 || info.finger > kMaxFinger) {
        return "finger " + std::to_string(info.finger) + " is outside 0.." + std::to_string(kMaxFinger);
    }
    if (info.impression < 0 || info.impression > kMaxImpression) {
        return "impression " + std::to_string(info.impression) + " is outside 0.." + std::to_string(kMaxImpression);
    }
    if (!info.imageSha256.empty() && !detail::isSha256Hex(info.imageSha256)) {
        return "the image SHA-256 is not 64 lowercase hex digits";
    }
    return "";
}

namespace detail {

std::string templateProblem(const uint8_t* featureTemplate, std::size_t size) {
    if (featureTemplate == nullptr) return "the template is missing";
    if (size < 4 || size > std::size_t(kMaxTemplateBytes)) {
        return "the template has " + std::to_string(size) + " bytes (a template has 4.." +
               std::to_string(kMaxTemplateBytes) + ")";
    }
    if (std::size_t(templateLength(featureTemplate)) != size) {
        return "the template's length field says " + std::to_string(templateLength(featureTemplate)) +
               " bytes but it has " + std::to_string(size);
    }
    if (!isWellFormedTemplate(featureTemplate)) return "the template's count or check byte is wrong";
    return "";
}

bool isSha256Hex(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

std::string decodeRow(const StoredRow& row, bool withTemplate, Entry& out) {
    if (!row.integersTyped) return "a number column holds something else";
    if (!row.subjectIsText) return "the subject is not text";
    if (!row.templateIsBlob) return "the template is not a blob";
    const auto fits32 = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
    if (!fits32(row.finger) || !fits32(row.impression) || !fits32(row.quality)) return "a number is out of range";

    PrintInfo info;
    info.subject.assign(row.subject.data(), row.subject.size());
    info.finger = int32_t(row.finger);
    info.impression = int32_t(row.impression);
    info.sourceName.assign(row.sourceName.data(), row.sourceName.size());
    info.imageSha256.assign(row.imageSha256.data(), row.imageSha256.size());
    std::string problem = checkPrintInfo(info);
    if (!problem.empty()) return problem;
    if (row.quality < -1 || row.quality > 100) return "quality " + std::to_string(row.quality) + " is outside -1..100";

    problem = templateProblem(row.featureTemplate, row.templateBytes);
    if (!problem.empty()) return problem;
    const int64_t count = int64_t(row.templateBytes - 4) / 7;
    if (row.minutiae != count) {
        return "the minutia count " + std::to_string(row.minutiae) + " disagrees with the template's " +
               std::to_string(count);
    }

    out.id = row.id;
    out.info = std::move(info);
    out.minutiae = int32_t(count);
    out.quality = int32_t(row.quality);
    out.enrolledAt = row.enrolledAt;
    if (withTemplate) {
        out.featureTemplate.assign(row.featureTemplate, row.featureTemplate + row.templateBytes);
    } else {
        out.featureTemplate.clear();
    }
    return "";
}

}  // namespace detail
}  // namespace orvane::gallery
