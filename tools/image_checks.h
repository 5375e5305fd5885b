// Checks that tell a damaged image file from one in a variant the library's
// own bitmap reader does not take, so that a damaged file is reported as such
// and never handed to a more lenient decoder that would fill in what is missing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::cli {

// Why a bitmap file cannot be right, or "" when its headers are whole and its
// pixel rows are all there (the last row may lack only its fill bytes, as the
// library allows). Compressed bitmaps are judged by their headers only.
std::string bitmapDamage(const std::vector<uint8_t>& file);

// Why a JPEG file cannot be whole, or "": its image data must end with the
// end-of-image marker, which a file cut short lacks.
std::string jpegDamage(const std::vector<uint8_t>& file);

// Why a binary PGM or PPM file (P5, P6) cannot be whole, or "": its pixel
// data must be as long as its header says.
std::string pnmDamage(const std::vector<uint8_t>& file);

}  // namespace orvane::cli
