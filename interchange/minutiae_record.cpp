#include "interchange/minutiae_record.h"

#include <cstring>

namespace orvane::interchange {

namespace {

constexpr uint8_t kFormatId[4] = {'F', 'M', 'R', 0};
constexpr uint8_t kVersion[4] = {' ', '2', '0', 0};
constexpr size_t kIsoHeaderBytes = 24;
constexpr size_t kAnsiHeaderBytes = 26;      // with the 2-byte length
constexpr size_t kAnsiLongHeaderBytes = 30;  // with the 0 and the 4-byte length
// Where the fields after the length start.
constexpr size_t kIsoFieldsAt = 12;
constexpr size_t kAnsiFieldsAt = 10;
constexpr size_t kAnsiLongFieldsAt = 14;
constexpr size_t kViewHeaderBytes = 4;
constexpr size_t kMinutiaBytes = 6;
constexpr size_t kBlockHeaderBytes = 4;
constexpr int32_t kAnsiAngleLimit = 180;  // units of 2 degrees
constexpr int32_t kMaxCoordinate = 0x3FFF;  // 14 bits

uint32_t read16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t read32(const uint8_t* p) { return read16(p) << 16 | read16(p + 2); }

// Reads fields in order and refuses to step past the end of the data.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t position() const { return position_; }
    size_t remaining() const { return size_ - position_; }
    void need(size_t bytes, const std::string& what) const {
        if (bytes > remaining()) {
            throw InterchangeError("record truncated: " + what + " needs " + std::to_string(bytes) +
                                   " bytes at offset " + std::to_string(position_) + ", only " +
                                   std::to_string(remaining()) + " left");
        }
    }
    const uint8_t* take(size_t bytes, const std::string& what) {
        need(bytes, what);
        const uint8_t* p = data_ + position_;
        position_ += bytes;
        return p;
    }
    uint32_t u8(const std::string& what) { return *take(1, what); }
    uint32_t u16(const std::string& what) { return read16(take(2, what)); }
    uint32_t u32(const std::string& what) { return read32(take(4, what)); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// Splits an extended data area into blocks. Block lengths count their own
// header when countsHeader is set, otherwise only their data. False when the
// lengths do not tile the area exactly.
bool splitBlocks(const uint8_t* area, size_t size, bool countsHeader, std::vector<ExtendedBlock>& blocks) {
    blocks.clear();
    size_t at = 0;
    while (at < size) {
        if (size - at < kBlockHeaderBytes) return false;
        const int32_t type = static_cast<int32_t>(read16(area + at));
        size_t length = read16(area + at + 2);
        if (countsHeader) {
            if (length < kBlockHeaderBytes) return false;
            length -= kBlockHeaderBytes;
        }
        at += kBlockHeaderBytes;
        if (length > size - at) return false;
        ExtendedBlock block;
        block.type = type;
        block.data.assign(area + at, area + at + length);
        blocks.push_back(std::move(block));
        at += length;
    }
    return true;
}

std::string viewName(size_t index) { return "finger view " + std::to_string(index); }

FingerView readView(Reader& in, RecordFormat format, size_t index) {
    const std::string name = viewName(index);
    FingerView view;
    const uint8_t* h = in.take(kViewHeaderBytes, name + " header");
    view.fingerPosition = h[0];
    view.viewNumber = h[1] >> 4;
    view.impressionType = h[1] & 15;
    view.fingerQuality = h[2];
    const size_t count = h[3];
    const uint8_t* m = in.take(count * kMinutiaBytes, name + ": " + std::to_string(count) + " minutiae");
    view.minutiae.resize(count);
    for (size_t i = 0; i < count; ++i, m += kMinutiaBytes) {
        RecordMinutia& rm = view.minutiae[i];
        rm.type = m[0] >> 6;
        rm.x = static_cast<int32_t>(read16(m) & kMaxCoordinate);
        rm.y = static_cast<int32_t>(read16(m + 2) & kMaxCoordinate);  // the 2 high bits are reserved
        rm.angle = m[4];
        rm.quality = m[5];
        if (rm.type == 3) {
            throw InterchangeError(name + ", minutia " + std::to_string(i) + ": reserved minutia type 3");
        }
        if (format == RecordFormat::Ansi && rm.angle >= kAnsiAngleLimit) {
            throw InterchangeError(name + ", minutia " + std::to_string(i) + ": angle " + std::to_string(rm.angle) +
                                   " is over 179 (units of 2 degrees)");
        }
    }
    const size_t areaBytes = in.u16(name + " extended data length");
    const uint8_t* area = in.take(areaBytes, name + " extended data");
    // The common reading counts the block header in the block length; a few
    // writers count only the data. Either is accepted if it tiles the area.
    if (!splitBlocks(area, areaBytes, true, view.blocks) && !splitBlocks(area, areaBytes, false, view.blocks)) {
        throw InterchangeError(name + ": extended data blocks overrun their area of " + std::to_string(areaBytes) +
                               " bytes");
    }
    return view;
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

void checkField(int64_t value, int64_t limit, const std::string& what) {
    if (value < 0 || value > limit) {
        throw InterchangeError("cannot write " + what + " " + std::to_string(value) + ": allowed 0.." +
                               std::to_string(limit));
    }
}

}  // namespace

const char* formatName(RecordFormat format) { return format == RecordFormat::Iso ? "ISO" : "ANSI"; }

bool looksLikeMinutiaeRecord(const uint8_t* data, size_t size) {
    return data && size >= 4 && std::memcmp(data, kFormatId, 4) == 0;
}

MinutiaeRecord parseMinutiaeRecord(const uint8_t* data, size_t size) {
    if (!data && size != 0) throw InterchangeError("no record data");
    if (!looksLikeMinutiaeRecord(data, size)) throw InterchangeError("not a finger minutiae record (no \"FMR\" mark)");
    if (size < 12) throw InterchangeError("record truncated: " + std::to_string(size) + " bytes");
    if (std::memcmp(data + 4, kVersion, 4) != 0) {
        std::string version;
        for (int i = 4; i < 8 && data[i]; ++i) version += data[i] >= 32 && data[i] < 127 ? char(data[i]) : '?';
        throw InterchangeError("record version \"" + version + "\" is not supported (only \" 20\")");
    }
    // The two formats differ from offset 8 on. ISO has a 4-byte length there;
    // ANSI a 2-byte length, or 0 followed by a 4-byte length. Only one reading
    // can equal the data size, which tells the formats apart.
    MinutiaeRecord record;
    size_t fieldsAt = 0;
    const uint32_t high = read16(data + 8);
    if (read32(data + 8) == size) {
        record.format = RecordFormat::Iso;
        fieldsAt = kIsoFieldsAt;
    } else if (high != 0 && high == size) {
        record.format = RecordFormat::Ansi;
        fieldsAt = kAnsiFieldsAt;
    } else if (high == 0 && size >= 14 && read32(data + 10) == size && size > 0xFFFF) {
        record.format = RecordFormat::Ansi;
        fieldsAt = kAnsiLongFieldsAt;
    } else {
        const uint32_t stated = high == 0 ? read32(data + 8) : high;
        throw InterchangeError("record length field says " + std::to_string(stated) + " bytes but the data has " +
                               std::to_string(size));
    }
    Reader header(data, size);
    header.take(fieldsAt, "length");
    if (record.format == RecordFormat::Ansi) record.productId = header.u32("product identifier");
    record.captureEquipment = static_cast<int32_t>(header.u16("capture equipment"));
    record.width = static_cast<int32_t>(header.u16("image width"));
    record.height = static_cast<int32_t>(header.u16("image height"));
    record.xResolution = static_cast<int32_t>(header.u16("horizontal resolution"));
    record.yResolution = static_cast<int32_t>(header.u16("vertical resolution"));
    const size_t viewCount = header.u8("number of finger views");
    header.u8("reserved byte");
    if (viewCount == 0) throw InterchangeError("record has no finger view");
    for (size_t v = 0; v < viewCount; ++v) {
        if (header.remaining() == 0) {
            throw InterchangeError("record says " + std::to_string(viewCount) + " finger views but the data ends after " +
                                   std::to_string(v));
        }
        record.views.push_back(readView(header, record.format, v));
    }
    if (header.remaining() != 0) {
        throw InterchangeError("record has " + std::to_string(header.remaining()) +
                               " bytes after its last finger view that its counts do not account for");
    }
    return record;
}

std::vector<uint8_t> encodeMinutiaeRecord(const MinutiaeRecord& record) {
    checkField(static_cast<int64_t>(record.views.size()), 255, "number of finger views");
    if (record.views.empty()) throw InterchangeError("cannot write a record without a finger view");
    checkField(record.captureEquipment, 0xFFFF, "capture equipment");
    checkField(record.width, 0xFFFF, "image width");
    checkField(record.height, 0xFFFF, "image height");
    checkField(record.xResolution, 0xFFFF, "horizontal resolution");
    checkField(record.yResolution, 0xFFFF, "vertical resolution");

    std::vector<uint8_t> body;  // everything after the header
    for (const FingerView& view : record.views) {
        checkField(view.fingerPosition, 255, "finger position");
        checkField(view.viewNumber, 15, "view number");
        checkField(view.impressionType, 15, "impression type");
        checkField(view.fingerQuality, 255, "finger quality");
        checkField(static_cast<int64_t>(view.minutiae.size()), 255, "number of minutiae");
        body.push_back(static_cast<uint8_t>(view.fingerPosition));
        body.push_back(static_cast<uint8_t>(view.viewNumber << 4 | view.impressionType));
        body.push_back(static_cast<uint8_t>(view.fingerQuality));
        body.push_back(static_cast<uint8_t>(view.minutiae.size()));
        const int32_t angleLimit = record.format == RecordFormat::Ansi ? kAnsiAngleLimit - 1 : 255;
        for (const RecordMinutia& m : view.minutiae) {
            checkField(m.type, 2, "minutia type");
            checkField(m.x, kMaxCoordinate, "minutia x");
            checkField(m.y, kMaxCoordinate, "minutia y");
            checkField(m.angle, angleLimit, "minutia angle");
            checkField(m.quality, 255, "minutia quality");
            put16(body, static_cast<uint32_t>(m.type << 14 | m.x));
            put16(body, static_cast<uint32_t>(m.y));
            body.push_back(static_cast<uint8_t>(m.angle));
            body.push_back(static_cast<uint8_t>(m.quality));
        }
        size_t area = 0;
        for (const ExtendedBlock& b : view.blocks) area += kBlockHeaderBytes + b.data.size();
        checkField(static_cast<int64_t>(area), 0xFFFF, "extended data length");
        put16(body, static_cast<uint32_t>(area));
        for (const ExtendedBlock& b : view.blocks) {
            checkField(b.type, 0xFFFF, "extended block type");
            put16(body, static_cast<uint32_t>(b.type));
            put16(body, static_cast<uint32_t>(kBlockHeaderBytes + b.data.size()));
            body.insert(body.end(), b.data.begin(), b.data.end());
        }
    }

    std::vector<uint8_t> out;
    out.reserve(kAnsiLongHeaderBytes + body.size());
    for (uint8_t b : kFormatId) out.push_back(b);
    for (uint8_t b : kVersion) out.push_back(b);
    if (record.format == RecordFormat::Iso) {
        const uint64_t total = kIsoHeaderBytes + body.size();
        checkField(static_cast<int64_t>(total), 0xFFFFFFFFLL, "record length");
        put32(out, static_cast<uint32_t>(total));
    } else {
        uint64_t total = kAnsiHeaderBytes + body.size();
        if (total <= 0xFFFF) {
            put16(out, static_cast<uint32_t>(total));
        } else {
            total = kAnsiLongHeaderBytes + body.size();
            checkField(static_cast<int64_t>(total), 0xFFFFFFFFLL, "record length");
            put16(out, 0);
            put32(out, static_cast<uint32_t>(total));
        }
        put32(out, record.productId);
    }
    put16(out, static_cast<uint32_t>(record.captureEquipment));
    put16(out, static_cast<uint32_t>(record.width));
    put16(out, static_cast<uint32_t>(record.height));
    put16(out, static_cast<uint32_t>(record.xResolution));
    put16(out, static_cast<uint32_t>(record.yResolution));
    out.push_back(static_cast<uint8_t>(record.views.size()));
    out.push_back(0);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace orvane::interchange
