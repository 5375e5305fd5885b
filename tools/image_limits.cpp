#include "image_limits.h"

#include <algorithm>

#include "common.h"

namespace orvane::cli {

void checkImageSize(const std::string& path, int64_t width, int64_t height) {
    if (width < 1 || height < 1) throw CliError(path + ": image has no pixels");
    if (width > kMaxImagePixels / height) {
        throw CliError(path + ": image of " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels is far too large (at most " + std::to_string(kMaxImagePixels) + " pixels are read)");
    }
}

void checkJpegTables(const std::string& path, const uint8_t* bytes, size_t size) {
    if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) return;
    auto byteAt = [&](size_t i) -> size_t { return i < size ? bytes[i] : 0; };
    bool defined[2][4] = {};  // Huffman tables seen so far: DC and AC, numbers 0 to 3
    bool progressive = false;
    bool undefinedTable = false;  // reported after the whole walk: an overrun comes first
    size_t at = 2;
    while (at + 1 < size) {
        if (bytes[at] != 0xFF) {  // the decoder steps over stray bytes between segments
            ++at;
            continue;
        }
        const uint8_t marker = bytes[at + 1];
        at += 2;
        if (marker == 0xFF) {  // fill byte before a marker
            --at;
            continue;
        }
        if (marker == 0xD9 || marker == 0x00) break;  // end of image; a zero marker stops the decoder
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length field
        if (at + 2 > size) break;
        const size_t length = size_t(bytes[at]) << 8 | bytes[at + 1];
        if (marker == 0xC4) {
            // Huffman tables: class and number, 16 counts, the codes. The
            // decoder reads as many tables as the length claims, taking bytes
            // past the end of the file for zeros.
            for (size_t table = at + 2; table < at + length;) {
                size_t codes = 0;
                for (size_t i = 1; i <= 16; ++i) codes += byteAt(table + i);
                if (codes > 256) {
                    throw CliError(path + ": damaged JPEG image (a Huffman table of " + std::to_string(codes) +
                                   " codes)");
                }
                const size_t kind = byteAt(table) >> 4, number = byteAt(table) & 15;
                if (kind < 2 && number < 4) defined[kind][number] = true;
                table += 17 + codes;
            }
        }
        if (marker >= 0xC0 && marker <= 0xC2) progressive = marker == 0xC2;
        if (marker == 0xDA) {
            // The decoder keeps its tables in memory it does not clear: a scan
            // that uses a table the file has not defined yet decodes with
            // whatever that memory held. Which tables a scan uses: sequential,
            // both; progressive, DC in a first DC scan, AC in an AC scan.
            const size_t components = byteAt(at + 2);
            const size_t spectralStart = byteAt(at + 3 + 2 * components);
            const size_t approximationHigh = byteAt(at + 5 + 2 * components) >> 4;
            const bool usesDc = !progressive || (spectralStart == 0 && approximationHigh == 0);
            const bool usesAc = !progressive || spectralStart != 0;
            for (size_t c = 0; c < components; ++c) {
                const size_t selectors = byteAt(at + 4 + 2 * c);
                const size_t dc = selectors >> 4, ac = selectors & 15;
                if ((usesDc && dc < 4 && !defined[0][dc]) || (usesAc && ac < 4 && !defined[1][ac])) {
                    undefinedTable = true;
                }
            }
        }
        at += length < 2 ? 2 : length;
        if (marker == 0xDA) {
            // Entropy-coded data up to the next marker, read as the decoder
            // reads it: an FF, any FF fill bytes after it, then 00 is one data
            // byte; FF D0..D7 are restart markers inside the data. Any other
            // byte after the FFs is the marker, whose segment the walk reads
            // next: tables may follow between scans.
            while (at < size) {
                if (bytes[at] != 0xFF) {
                    ++at;
                    continue;
                }
                size_t last = at;  // the last FF of the run
                while (last + 1 < size && bytes[last + 1] == 0xFF) ++last;
                if (last + 1 >= size) {
                    at = size;
                    break;
                }
                const uint8_t next = bytes[last + 1];
                if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7)) {
                    at = last;
                    break;
                }
                at = last + 2;
            }
        }
    }
    if (undefinedTable) throw CliError(path + ": damaged JPEG image (a scan uses a Huffman table not defined before it)");
}

void checkPngChunks(const std::string& path, const uint8_t* bytes, size_t size) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || !std::equal(kSignature, kSignature + 8, bytes)) return;
    auto big32 = [&](size_t at) {
        return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
    };
    // Each chunk: length, type, the data, a check sum. The walk follows the
    // lengths as the decoder does and ends where it does, at the end chunk.
    for (size_t at = 8; at + 8 <= size;) {
        const uint32_t length = big32(at);
        const uint32_t type = big32(at + 4);
        if (type == 0x49454E44) return;  // IEND
        const size_t left = size - (at + 8);
        if (type == 0x49444154 && length > left) {  // IDAT
            throw CliError(path + ": damaged image, file cut short (a PNG data chunk of " + std::to_string(length) +
                           " bytes with " + std::to_string(left) + " left)");
        }
        if (length > left) return;  // the decoder stops there: nothing further is read
        at += 8 + size_t(length) + 4;
    }
}

void checkPnmHeader(const std::string& path, const uint8_t* bytes, size_t size) {
    if (size < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return;
    auto isSpace = [](uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
    auto isDigit = [](uint8_t c) { return c >= '0' && c <= '9'; };
    const char* const names[] = {"width", "height", "largest value"};
    const int64_t limits[] = {kMaxImagePixels, kMaxImagePixels, 65535};
    size_t at = 2;
    for (int field = 0; field < 3; ++field) {
        // White space and comments (to the end of the line) before each
        // field, as the decoder skips them.
        for (;;) {
            while (at < size && isSpace(bytes[at])) ++at;
            if (at >= size || bytes[at] != '#') break;
            while (at < size && bytes[at] != '\n' && bytes[at] != '\r') ++at;
        }
        const size_t start = at;
        int64_t value = 0;
        for (; at < size && isDigit(bytes[at]); ++at) {
            if (value <= limits[field]) value = value * 10 + (bytes[at] - '0');  // stops growing once over
        }
        if (value > limits[field]) {
            const size_t shown = std::min<size_t>(at - start, 20);
            throw CliError(path + ": PGM/PPM header with a " + names[field] + " of " +
                           std::string(reinterpret_cast<const char*>(bytes + start), shown) +
                           (at - start > shown ? "..." : "") + ", out of range (at most " +
                           std::to_string(limits[field]) + ")");
        }
        if (at == start) return;  // not a number: the decoder refuses the file itself
        // 16-bit colour: the decoder turns it to grey with its 8-bit
        // conversion and then reads twice the bytes that left.
        if (field == 2 && bytes[1] == '6' && value > 255) {
            throw CliError(path + ": 16-bit colour PPM images are not supported (save it with 8 bits or in grey)");
        }
    }
}

}  // namespace orvane::cli
