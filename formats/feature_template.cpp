#include "formats/feature_template.h"

#include <cstdio>
#include <cstring>

#include "formats/unfinished_file.h"

namespace orvane {

namespace {
bool lengthAgreesWithCount(int32_t length, int32_t count) {
    return count <= kMaxMinutiae && length == 7 * count + 4;
}
}  // namespace

uint8_t templateChecksum(const uint8_t* featureTemplate, int32_t length) {
    uint8_t x = 0;
    for (int32_t i = 0; i < length; ++i) x ^= featureTemplate[i];
    return x;
}

bool isWellFormedTemplate(const uint8_t* featureTemplate) {
    const int32_t length = templateLength(featureTemplate);
    if (length < 4 || length > kMaxTemplateBytes) return false;
    if (!lengthAgreesWithCount(length, featureTemplate[2])) return false;
    return templateChecksum(featureTemplate, length) == 0;
}

int32_t packTemplate(const MinutiaSet* set, uint8_t* featureTemplate) {
    if (!set || !featureTemplate) return 0;
    if (set->count < 0 || set->count > kMaxMinutiae) return 0;
    const int32_t n = set->count & 0xFF;
    const int32_t length = 7 * n + 4;
    featureTemplate[0] = static_cast<uint8_t>(length >> 8);
    featureTemplate[1] = static_cast<uint8_t>(length);
    featureTemplate[2] = static_cast<uint8_t>(n);
    for (int32_t i = 0; i < n; ++i) {
        const Minutia& m = set->minutiae[i];
        uint8_t* b = featureTemplate + 3 + 7 * i;
        b[0] = static_cast<uint8_t>(m.x >> 2);
        b[1] = static_cast<uint8_t>(((m.x & 3) << 6) + (m.y >> 4));
        b[2] = static_cast<uint8_t>(((m.y & 15) << 4) + (m.direction >> 5));
        b[3] = static_cast<uint8_t>(((m.direction & 31) << 3) + (m.kind & 7));
        b[4] = static_cast<uint8_t>(m.ringOrientation[0]);
        b[5] = static_cast<uint8_t>(m.ringOrientation[1]);
        b[6] = static_cast<uint8_t>(m.ringOrientation[2]);
    }
    featureTemplate[length - 1] = templateChecksum(featureTemplate, length - 1);
    return length;
}

int32_t unpackTemplate(const uint8_t* featureTemplate, MinutiaSet* set) {
    if (!featureTemplate || !set) return 1;
    std::memset(set, 0, sizeof *set);
    const int32_t length = templateLength(featureTemplate);
    const int32_t count = featureTemplate[2];
    // The length and count are tested before anything beyond byte 2 is read.
    if (!lengthAgreesWithCount(length, count)) return 2;
    if (templateChecksum(featureTemplate, length) != 0) return 2;
    set->count = count;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* b = featureTemplate + 3 + 7 * i;
        Minutia& m = set->minutiae[i];
        m.x = b[0] * 4 + (b[1] >> 6);
        m.y = (b[1] & 63) * 16 + (b[2] >> 4);
        m.direction = (b[2] & 15) * 32 + (b[3] >> 3);
        m.kind = b[3] & 7;
        m.ringOrientation[0] = b[4];
        m.ringOrientation[1] = b[5];
        m.ringOrientation[2] = b[6];
    }
    return 0;
}

int32_t saveTemplateFile(const char* path, const uint8_t* featureTemplate) {
    if (!path || !featureTemplate || !isWellFormedTemplate(featureTemplate)) return 1;
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return 1;
    const size_t length = static_cast<size_t>(templateLength(featureTemplate));
    const bool written = std::fwrite(featureTemplate, 1, length, f) == length;
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return 0;
    removeUnfinishedFile(path);
    return 1;
}

int32_t loadTemplateFile(const char* path, uint8_t* featureTemplate) {
    if (!path || !featureTemplate) return 1;
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return 1;
    // Read into a local buffer first so that a refused file never writes more
    // than 424 bytes, and never anything past its own length field.
    uint8_t bytes[kMaxTemplateBytes];
    const size_t got = std::fread(bytes, 1, 2, f);
    int32_t length = got == 2 ? templateLength(bytes) : 0;
    bool ok = got == 2 && length >= 4 && length <= kMaxTemplateBytes;
    if (ok) ok = std::fread(bytes + 2, 1, size_t(length - 2), f) == size_t(length - 2);
    std::fclose(f);
    if (!ok) return 1;
    std::memcpy(featureTemplate, bytes, size_t(length));
    return templateChecksum(featureTemplate, length) == 0 ? 0 : 1;
}

}  // namespace orvane
