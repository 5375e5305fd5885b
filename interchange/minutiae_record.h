// Finger minutiae records of the two interchange formats (ISO/IEC 19794-2:2005
// and ANSI INCITS 378-2004), byte for byte: reading with every length checked
// against the data, and writing. Fields are kept in the record's own units
// and coordinates; interchange.h converts them to and from templates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvane::interchange {

// A record, text list or template that cannot be read or written; the
// message says why in one line.
class InterchangeError : public std::runtime_error {
public:
    explicit InterchangeError(const std::string& message) : std::runtime_error(message) {}
};

enum class RecordFormat { Iso, Ansi };

// "ISO" or "ANSI", for messages.
const char* formatName(RecordFormat format);

// Minutia type in the record's two bits.
enum RecordMinutiaType : int32_t { kTypeOther = 0, kTypeRidgeEnding = 1, kTypeBifurcation = 2 };

struct RecordMinutia {
    int32_t type = kTypeOther;  // 0, 1 or 2 (3 is reserved and refused)
    int32_t x = 0;              // 0..16383, pixels from the left edge
    int32_t y = 0;              // 0..16383, pixels from the top edge
    int32_t angle = 0;          // ISO: 0..255 in units of 360/256 degrees; ANSI: 0..179 in units of 2 degrees
    int32_t quality = 0;        // 0..255 as stored (0..100 defined, 0 = not reported)
};

struct ExtendedBlock {
    int32_t type = 0;           // 2 bytes
    std::vector<uint8_t> data;  // without the 4-byte block header
};

struct FingerView {
    int32_t fingerPosition = 0;  // 0 unknown, 1..10
    int32_t viewNumber = 0;      // 0..15
    int32_t impressionType = 0;  // 0..15
    int32_t fingerQuality = 0;   // 0..255 as stored (0..100 defined)
    std::vector<RecordMinutia> minutiae;  // at most 255
    std::vector<ExtendedBlock> blocks;
};

struct MinutiaeRecord {
    RecordFormat format = RecordFormat::Iso;
    uint32_t productId = 0;         // ANSI only: CBEFF owner (high 16 bits) and type
    int32_t captureEquipment = 0;   // 16 bits
    int32_t width = 0;              // pixels
    int32_t height = 0;
    int32_t xResolution = 197;      // pixels per cm (197 = 500 dpi)
    int32_t yResolution = 197;
    std::vector<FingerView> views;  // 1..255
};

// True when the data starts like a finger minutiae record of either format.
bool looksLikeMinutiaeRecord(const uint8_t* data, size_t size);

// Reads a whole record; the format is recognised from the length field, which
// must equal size. Throws InterchangeError for truncated data, a length that
// disagrees, an unknown version, no finger view, counts or extended blocks
// that run past the data, a reserved minutia type or (ANSI) an angle over 179.
MinutiaeRecord parseMinutiaeRecord(const uint8_t* data, size_t size);

// Writes a record in its format. Extended blocks are written with lengths
// that count their 4-byte headers. Throws InterchangeError for a field
// outside its width.
std::vector<uint8_t> encodeMinutiaeRecord(const MinutiaeRecord& record);

}  // namespace orvane::interchange
