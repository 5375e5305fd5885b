#include "image_checks.h"

#include <cctype>
#include <cstdlib>

namespace orvane::cli {

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kCoreHeaderBytes = 12;  // the oldest info header: 16-bit sizes
constexpr size_t kInfoFieldBytes = 20;   // the fields read from any later header: size to compression

}  // namespace

std::string bitmapDamage(const std::vector<uint8_t>& file) {
    if (file.size() < kFileHeaderBytes + 4) return "file cut short in its header";
    const uint32_t infoBytes = le32(file, kFileHeaderBytes);
    if (infoBytes < kCoreHeaderBytes || (infoBytes > kCoreHeaderBytes && infoBytes < kInfoFieldBytes)) {
        return "damaged header";
    }
    if (file.size() < kFileHeaderBytes + infoBytes) return "file cut short in its header";
    const uint32_t dataOffset = le32(file, 10);
    int64_t width = 0, height = 0;
    uint32_t bits = 0, compression = 0;
    if (infoBytes == kCoreHeaderBytes) {
        width = le16(file, 18);
        height = static_cast<int16_t>(le16(file, 20));
        bits = le16(file, 24);
    } else {
        width = static_cast<int32_t>(le32(file, 18));
        height = static_cast<int32_t>(le32(file, 22));
        bits = le16(file, 28);
        compression = le32(file, 30);
    }
    if (width < 1 || height == 0) return "damaged header (no pixels)";
    if (dataOffset < kFileHeaderBytes + infoBytes) return "damaged header (pixel rows inside the header)";
    if (dataOffset > file.size()) return "file cut short before its pixel rows";
    const bool plain = compression == 0 || compression == 3 || compression == 6;  // none or bit fields
    if (!plain) return "";
    if (bits == 0 || bits > 32) return "damaged header (" + std::to_string(bits) + " bits per pixel)";
    // Unsigned 64 bits hold any header's needs: a stride below 2^33 times
    // fewer than 2^31 rows, plus an offset and a row, stays below 2^64.
    const uint64_t rows = static_cast<uint64_t>(std::llabs(height));
    const uint64_t rowBytes = (static_cast<uint64_t>(width) * bits + 7) / 8;
    const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    const uint64_t needed = static_cast<uint64_t>(dataOffset) + stride * (rows - 1) + rowBytes;
    if (file.size() < needed) {
        return "file cut short (" + std::to_string(file.size()) + " of " + std::to_string(needed) + " bytes)";
    }
    return "";
}

std::string jpegDamage(const std::vector<uint8_t>& file) {
    // The last start-of-scan must be followed by an end-of-image marker; a
    // thumbnail's markers come earlier, so both are looked for from the end.
    size_t lastScan = 0, lastEnd = 0;
    for (size_t i = 2; i + 1 < file.size(); ++i) {
        if (file[i] != 0xFF) continue;
        if (file[i + 1] == 0xDA) lastScan = i;
        if (file[i + 1] == 0xD9) lastEnd = i;
    }
    if (lastScan == 0) return "damaged JPEG (no image data)";
    if (lastEnd < lastScan) return "file cut short (no end-of-image marker)";
    return "";
}

std::string pnmDamage(const std::vector<uint8_t>& file) {
    if (file.size() < 2 || file[0] != 'P' || (file[1] != '5' && file[1] != '6')) return "";
    // Header: magic, width, height, largest value, each after white space or
    // comments, then one white-space byte before the pixels.
    size_t at = 2;
    int64_t fields[3] = {0, 0, 0};
    for (int64_t& field : fields) {
        for (;;) {
            while (at < file.size() && std::isspace(file[at])) ++at;
            if (at < file.size() && file[at] == '#') {
                while (at < file.size() && file[at] != '\n') ++at;
                continue;
            }
            break;
        }
        if (at >= file.size() || !std::isdigit(file[at])) return "file cut short in its header";
        while (at < file.size() && std::isdigit(file[at]) && field < (int64_t(1) << 40)) field = field * 10 + (file[at++] - '0');
    }
    ++at;
    const int64_t samples = file[1] == '6' ? 3 : 1;
    const int64_t needed = static_cast<int64_t>(at) + fields[0] * fields[1] * samples * (fields[2] > 255 ? 2 : 1);
    if (static_cast<int64_t>(file.size()) < needed) {
        return "file cut short (" + std::to_string(file.size()) + " of " + std::to_string(needed) + " bytes)";
    }
    return "";
}

}  // namespace orvane::cli
