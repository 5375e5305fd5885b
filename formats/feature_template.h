// The packed feature template (7 bytes per minutia, length in front, check
// byte at the end) and the template file.
#pragma once

#include <cstdint>

#include "core/minutia.h"

namespace orvane {

// Length field of a template (bytes 0 and 1, big-endian).
inline int32_t templateLength(const uint8_t* featureTemplate) {
    return featureTemplate[0] * 256 + featureTemplate[1];
}

// Exclusive-or of bytes 0..length-1.
uint8_t templateChecksum(const uint8_t* featureTemplate, int32_t length);

// True when length is 4..424, agrees with the count (7 * count + 4) and the
// check byte matches.
bool isWellFormedTemplate(const uint8_t* featureTemplate);

// Writes the template of set (count at most 60) and returns its length, or 0
// when a pointer is null or the count is outside 0..60.
int32_t packTemplate(const MinutiaSet* set, uint8_t* featureTemplate);

// Fills set from a template. Returns 0; 1 when a pointer is null (set
// untouched); 2 when the count exceeds 60, the length is not 7 * count + 4 or
// the check byte does not match (set cleared). Reads at most 424 bytes.
int32_t unpackTemplate(const uint8_t* featureTemplate, MinutiaSet* set);

// The template file of SaveFeature: 0, or 1 when the template is null or
// damaged or the file cannot be completely written (a partly written file is
// removed).
int32_t saveTemplateFile(const char* path, const uint8_t* featureTemplate);

// The template file of LoadFeature: 0, or 1 when a pointer is null or the
// file cannot be read, has a length outside 4..424 or a wrong check byte (on a
// wrong check byte featureTemplate already holds the file's bytes).
int32_t loadTemplateFile(const char* path, uint8_t* featureTemplate);

}  // namespace orvane
