#include "image_input.h"

#include <stb_image.h>
#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common.h"
#include "orvane.h"
#include "image_checks.h"
#include "print_window.h"
#include "image_limits.h"
#include "safe_write.h"
#include "formats/bitmap.h"
#include "formats/feature_template.h"
#include "core/minutia.h"
#include "workspace/workspace.h"

namespace fs = std::filesystem;

namespace orvane::cli {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Grey value of an RGB pixel, the same weights stb_image uses.
uint8_t luma(uint8_t r, uint8_t g, uint8_t b) { return static_cast<uint8_t>((r * 77 + g * 150 + b * 29) >> 8); }

void flipRows(GreyImage& image) {
    const size_t w = static_cast<size_t>(image.width);
    for (int32_t top = 0, bottom = image.height - 1; top < bottom; ++top, --bottom) {
        std::swap_ranges(image.pixels.begin() + static_cast<std::ptrdiff_t>(top * w),
                         image.pixels.begin() + static_cast<std::ptrdiff_t>((top + 1) * w),
                         image.pixels.begin() + static_cast<std::ptrdiff_t>(bottom * w));
    }
}

// Library bitmaps: 8-bit with a 256-colour palette, read as the exports do.
bool loadLibraryBitmap(const std::string& path, GreyImage& image) {
    int32_t width = 0, height = 0;
    if (readBitmap(path.c_str(), nullptr, &width, &height) != 0) return false;
    checkImageSize(path, width, height);
    image.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    int32_t w2 = 0, h2 = 0;
    if (readBitmap(path.c_str(), image.pixels.data(), &w2, &h2) != 0 || w2 != width || h2 != height) return false;
    image.width = width;
    image.height = height;
    return true;
}

// Refuses a file whose header claims more pixels than the tool takes, when
// the header can be read at all (a damaged one is judged later).
void checkHeaderSize(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) throw CliError(path + ": file too large");
    int w = 0, h = 0, channels = 0;
    if (stbi_info_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), static_cast<int>(bytes.size()), &w, &h,
                              &channels)) {
        // Bitmaps stored top row first report a negative height (down to INT32_MIN).
        checkImageSize(path, w, std::abs(static_cast<int64_t>(h)));
    }
}

GreyImage loadWithStb(const std::string& path) {
    const std::vector<uint8_t> bytes = readWholeFile(path, size_t(1) << 30);
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) throw CliError(path + ": file too large");
    int w = 0, h = 0, channels = 0;
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int length = static_cast<int>(bytes.size());
    // Tables the decoder would overrun, chunks longer than the file, numbers
    // it would wrap round, then the size the header claims, are refused
    // before anything else reads the file.
    checkJpegTables(path, bytes.data(), bytes.size());
    checkPngChunks(path, bytes.data(), bytes.size());
    checkPnmHeader(path, bytes.data(), bytes.size());
    checkHeaderSize(path, bytes);
    const bool jpeg = bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
    const std::string damage = jpeg ? jpegDamage(bytes) : pnmDamage(bytes);
    if (!damage.empty()) throw CliError(path + ": damaged image, " + damage);
    if (!stbi_info_from_memory(data, length, &w, &h, &channels)) {
        const char* why = stbi_failure_reason();
        throw CliError(path + ": damaged or unreadable image (" + (why ? why : "unknown format") + ")");
    }
    h = std::abs(h);  // bitmaps stored top row first report a negative height here
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(stbi_load_from_memory(data, length, &w, &h, &channels, 1),
                                                     stbi_image_free);
    if (!pixels) {
        const char* why = stbi_failure_reason();
        // The decoder runs out of data only when the file was cut short.
        if (why && std::strcmp(why, "outofdata") == 0) throw CliError(path + ": damaged image, file cut short");
        throw CliError(path + ": damaged or unreadable image (" + (why ? why : "decoding failed") + ")");
    }
    GreyImage image;
    image.width = w;
    image.height = h;
    image.pixels.assign(pixels.get(), pixels.get() + static_cast<size_t>(w) * static_cast<size_t>(h));
    flipRows(image);  // stb gives the top row first
    return image;
}

extern "C" void quietTiffHandler(const char*, const char*, va_list) {}

// The reader's last complaint on this thread, for the message.
thread_local std::string t_tiffError;
extern "C" void recordTiffError(const char*, const char* format, va_list args) {
    char buf[256];
    std::vsnprintf(buf, sizeof buf, format, args);
    t_tiffError = buf;
}

GreyImage loadWithTiff(const std::string& path) {
    TIFFSetErrorHandler(recordTiffError);
    t_tiffError.clear();
    TIFFSetWarningHandler(quietTiffHandler);
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
    if (!tif) {
        throw CliError(path + ": damaged or unreadable TIFF image" +
                       (t_tiffError.empty() ? std::string() : " (" + t_tiffError + ")"));
    }
    uint32_t w = 0, h = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    checkImageSize(path, w, h);
    std::vector<uint32_t> rgba(static_cast<size_t>(w) * h);
    // Bottom row first, which is the library's row order. Reading stops at
    // the first error: a strip cut short is damage, not rows to fill with zeros.
    if (!TIFFReadRGBAImageOriented(tif.get(), w, h, rgba.data(), ORIENTATION_BOTLEFT, 1) || !t_tiffError.empty()) {
        throw CliError(path + ": damaged or unsupported TIFF image" +
                       (t_tiffError.empty() ? std::string() : " (" + t_tiffError + ")"));
    }
    GreyImage image;
    image.width = static_cast<int32_t>(w);
    image.height = static_cast<int32_t>(h);
    image.pixels.resize(rgba.size());
    for (size_t i = 0; i < rgba.size(); ++i) {
        const uint32_t p = rgba[i];
        image.pixels[i] = luma(static_cast<uint8_t>(TIFFGetR(p)), static_cast<uint8_t>(TIFFGetG(p)),
                               static_cast<uint8_t>(TIFFGetB(p)));
    }
    return image;
}

void fitToLibrary(const std::string& path, GreyImage& image, bool crop) {
    if (image.width <= kMaxWidth && image.height <= kMaxHeight) return;
    if (!crop) {
        throw CliError(path + ": image is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                       " pixels; at most 640 x 480 can be used (--crop auto takes the print's part of it)");
    }
    const int32_t w = std::min(image.width, kMaxWidth);
    const int32_t h = std::min(image.height, kMaxHeight);
    const int32_t x0 = (image.width - w) / 2;
    const int32_t y0 = (image.height - h) / 2;
    std::vector<uint8_t> out(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = image.pixels.data() + static_cast<size_t>(y0 + y) * static_cast<size_t>(image.width) +
                             static_cast<size_t>(x0);
        std::memcpy(out.data() + static_cast<size_t>(y) * static_cast<size_t>(w), src, static_cast<size_t>(w));
    }
    image.cropped = true;
    image.window = {x0, image.height - y0 - h, w, h};  // rows are stored bottom first
    image.width = w;
    image.height = h;
    image.pixels.swap(out);
}

bool isTiffMagic(const uint8_t* m, size_t n) {
    return n >= 4 && ((m[0] == 'I' && m[1] == 'I' && m[2] == 42 && m[3] == 0) ||
                      (m[0] == 'M' && m[1] == 'M' && m[2] == 0 && m[3] == 42));
}

}  // namespace

FileKind sniffFile(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return FileKind::Missing;
    if (fs::is_directory(path, ec)) return FileKind::Folder;
    uint8_t magic[8] = {0};
    size_t n = 0;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        n = std::fread(magic, 1, sizeof magic, f);
        std::fclose(f);
    }
    if (n >= 2 && magic[0] == 'B' && magic[1] == 'M') return FileKind::Bitmap;
    if (n >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) return FileKind::OtherImage;
    if (n >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return FileKind::OtherImage;
    if (isTiffMagic(magic, n)) return FileKind::OtherImage;
    if (n >= 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6') return FileKind::OtherImage;
    if (n >= 4 && std::memcmp(magic, "GIF8", 4) == 0) return FileKind::OtherImage;
    return FileKind::Template;
}

bool hasImageExtension(const std::string& path) {
    static const char* const kExtensions[] = {".bmp", ".png", ".jpg", ".jpeg", ".pgm", ".pnm", ".tif", ".tiff"};
    const std::string ext = lower(fs::path(path).extension().string());
    for (const char* e : kExtensions) {
        if (ext == e) return true;
    }
    return false;
}

GreyImage loadGreyImage(const std::string& path, CropMode crop) {
    GreyImage image;
    switch (sniffFile(path)) {
        case FileKind::Missing: throw CliError(path + ": no such file");
        case FileKind::Folder: throw CliError(path + ": is a folder, not an image");
        case FileKind::Template: throw CliError(path + ": not an image (BMP, PNG, JPEG, PGM or TIFF)");
        case FileKind::Bitmap:
            if (!loadLibraryBitmap(path, image)) {
                // A variant the library does not read (other depths, top-down
                // rows) goes to the general decoder; a damaged file does not.
                const std::vector<uint8_t> bytes = readWholeFile(path, size_t(1) << 30);
                checkHeaderSize(path, bytes);
                const std::string damage = bitmapDamage(bytes);
                if (!damage.empty()) throw CliError(path + ": damaged image, " + damage);
                image = loadWithStb(path);
            }
            break;
        case FileKind::OtherImage: {
            uint8_t magic[4] = {0};
            if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
                const size_t got = std::fread(magic, 1, 4, f);
                std::fclose(f);
                if (isTiffMagic(magic, got)) {
                    image = loadWithTiff(path);
                    break;
                }
            }
            image = loadWithStb(path);
            break;
        }
    }
    if (crop == CropMode::Auto) {
        cropToPrint(image);
    } else {
        fitToLibrary(path, image, crop == CropMode::Centre);
    }
    return image;
}

std::vector<uint8_t> loadTemplate(const std::string& path) {
    switch (sniffFile(path)) {
        case FileKind::Missing: throw CliError(path + ": no such file");
        case FileKind::Folder: throw CliError(path + ": is a folder, not a template");
        default: break;
    }
    std::vector<uint8_t> bytes(kMaxTemplateBytes, 0);
    if (loadTemplateFile(path.c_str(), bytes.data()) != 0 || !isWellFormedTemplate(bytes.data())) {
        throw CliError(path + ": not an image and not a valid template (" + resultCodeWithText(ORVANE_E_LOAD_TEMPLATE) + ")");
    }
    bytes.resize(static_cast<size_t>(templateLength(bytes.data())));
    // The library reads only the template's own length; bytes after it mean
    // the file is something else or was damaged.
    std::error_code ec;
    const uintmax_t fileBytes = fs::file_size(path, ec);
    if (!ec && fileBytes != bytes.size()) {
        throw CliError(path + ": file of " + std::to_string(fileBytes) + " bytes holds a template of " +
                       std::to_string(bytes.size()) + " bytes; the rest is not part of it (damaged or not a template)");
    }
    return bytes;
}

void saveTemplate(const std::string& path, const std::vector<uint8_t>& featureTemplate) {
    writeFileSafely(path, [&](const std::string& file) {
        if (featureTemplate.size() < 4 || saveTemplateFile(file.c_str(), featureTemplate.data()) != 0) {
            throw CliError(path + ": cannot write template (" + resultCodeWithText(ORVANE_E_SAVE_TEMPLATE) + ")");
        }
        return true;
    });
}

void saveGreyBitmap(const std::string& path, const GreyImage& image) {
    writeFileSafely(path, [&](const std::string& file) {
        if (writeBitmap(image.pixels.data(), image.width, image.height, file.c_str()) != 0) {
            throw CliError(path + ": cannot write bitmap (" + resultCodeWithText(ORVANE_E_SAVE_IMAGE) + ")");
        }
        return true;
    });
}

std::vector<std::string> listFiles(const std::string& folder, bool imagesOnly) {
    std::error_code ec;
    if (!fs::exists(folder, ec)) throw CliError(folder + ": no such folder");
    if (!fs::is_directory(folder, ec)) throw CliError(folder + ": not a folder");
    std::vector<std::string> out;
    fs::directory_iterator it(folder, ec);
    if (ec) throw CliError(folder + ": cannot read folder (" + ec.message() + ")");
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) throw CliError(folder + ": cannot read folder (" + ec.message() + ")");
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        if (imagesOnly && !hasImageExtension(name)) continue;
        out.push_back(it->path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace orvane::cli
