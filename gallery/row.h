// Decoding of a stored row: every column is checked, because another tool
// may have written the file. Kept apart from SQLite so it can be fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "gallery/gallery.h"

namespace orvane::gallery::detail {

// The column values of one row as read (pointers into the statement's row).
struct StoredRow {
    int64_t id = 0;
    bool integersTyped = true;  // finger, impression, minutiae, quality and time are integers
    std::string_view subject;
    bool subjectIsText = true;
    int64_t finger = 0;
    int64_t impression = 0;
    int64_t minutiae = 0;
    int64_t quality = -1;
    int64_t enrolledAt = 0;
    const uint8_t* featureTemplate = nullptr;
    std::size_t templateBytes = 0;
    bool templateIsBlob = true;
    std::string_view sourceName;
    std::string_view imageSha256;  // empty when NULL
};

// Why a template of `size` bytes cannot be stored or searched ("" when it
// can): the length field must equal the size, and the count, size and check
// byte agree.
std::string templateProblem(const uint8_t* featureTemplate, std::size_t size);

// Whether text is 64 lowercase hex digits.
bool isSha256Hex(std::string_view text);

// Fills out from row (the template only when withTemplate). Returns "" or
// the reason the row is damaged.
std::string decodeRow(const StoredRow& row, bool withTemplate, Entry& out);

}  // namespace orvane::gallery::detail
