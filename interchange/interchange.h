// Templates to and from interchange records and text minutiae.
//
// Conventions (measured against records written by another extractor for the
// same prints; see tests/interchange/conventions_test.cpp):
// - Position: a template counts rows from the bottom of the picture (the
//   library's row order of an ordinary bottom-up bitmap, and the order the
//   tool turns every image into); a record counts them from the top. So
//   record y = image height - 1 - template y, and x is the same.
// - Angle: both measure counter-clockwise as the picture is seen, from the
//   direction of increasing x. The record angle is the template direction in
//   the record's units (ISO 360/256 degrees, ANSI 2 degrees), rounded to the
//   nearest unit, halves up.
// - Ridge endings and bifurcations: the same position and the same direction
//   rule in both (no half-turn for either kind); type 01 is kind 1 (ending),
//   type 10 kind 2 (bifurcation), type 00 ("other") kind 0.
// - Resolution: 500 dpi is 197 pixels per cm. A record at another resolution
//   is rescaled to 197 on reading, positions and image size rounded to the
//   nearest pixel.
// - More than 60 minutiae: the 60 kept are those of highest minutia quality;
//   among equal qualities those nearest the centroid of all the view's
//   minutiae, then the earlier ones. The kept minutiae stay in record order.
// - What the formats cannot hold (the direction in whole degrees and the
//   three ring orientations) travels in an extended data block of ours, so a
//   template exported at 500 dpi reads back to the same bytes. Without that
//   block the ring orientations are 255 (unavailable).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "interchange/minutiae_record.h"

namespace orvane::interchange {

constexpr int32_t kDefaultDpi = 500;
constexpr int32_t kPixelsPerCmAt500Dpi = 197;

// The type of our extended data block, and the mark its data starts with.
constexpr int32_t kOwnBlockType = 0x4F56;
constexpr char kOwnBlockMark[4] = {'O', 'R', 'V', '1'};

// Pixels per cm of a resolution in dots per inch, rounded (500 -> 197).
int32_t pixelsPerCm(int32_t dpi);

struct ExportSettings {
    RecordFormat format = RecordFormat::Iso;
    int32_t width = 0;   // the image the template came from (1..65535); every minutia must lie inside it
    int32_t height = 0;
    int32_t dpi = kDefaultDpi;
    int32_t fingerPosition = 0;  // 0 unknown, 1 right thumb .. 10 left little
    int32_t impressionType = 0;  // 0 live-scan plain, 1 live-scan rolled, 2 non-live plain, 3 non-live rolled
    int32_t fingerQuality = -1;  // 0..100, the image's quality score; -1 when unknown (written as 0)
    bool withOwnBlock = true;    // false: a record with the format's fields only
};

// Record of a template (its bytes must be a well-formed template). Minutia
// quality is the finger quality when known, otherwise 0 (not reported).
// Throws InterchangeError.
std::vector<uint8_t> exportRecord(const uint8_t* featureTemplate, const ExportSettings& settings);

// What an import found besides the minutiae, in template terms (size at
// 500 dpi after any rescaling).
struct ImportedTemplate {
    std::vector<uint8_t> featureTemplate;
    RecordFormat format = RecordFormat::Iso;
    int32_t width = 0;
    int32_t height = 0;
    int32_t fingerPosition = 0;
    int32_t impressionType = 0;
    int32_t fingerQuality = 0;
    int32_t recordMinutiae = 0;  // in the chosen view, before the 60 rule
    bool ownBlockUsed = false;
};

// Template of one finger view (view counts from 0 in record order) of a
// record of either format. Throws InterchangeError when the record is not
// valid, the view does not exist, or a minutia falls outside the image or
// the 640 x 480 frame of a template.
ImportedTemplate importRecord(const uint8_t* data, size_t size, int32_t view = 0);

// Text minutiae: one minutia a line, "x y angle quality", whole numbers
// separated by blanks; '#' starts a comment. x and y are template
// coordinates (y counts rows from the bottom of the picture, so no image size
// is needed); the angle is in degrees 0..359, counter-clockwise from the
// direction of increasing x, as in the records; quality is 0..100. The format
// has no minutia type: on reading every minutia is a ridge ending (kind 1)
// and the ring orientations are 255.
std::string exportText(const uint8_t* featureTemplate, int32_t quality = 0);
std::vector<uint8_t> importText(const std::string& text);

// True when the data is plausibly text minutiae (printable text whose first
// line that is not a comment holds numbers).
bool looksLikeTextMinutiae(const uint8_t* data, size_t size);

}  // namespace orvane::interchange
