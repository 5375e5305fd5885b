// The reentrant C API: handles over the library's workspace-taking drivers,
// the 1:N search and the gallery. Every entry point catches everything at the
// boundary.
#include "orvane_api.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "formats/feature_template.h"
#include "gallery/gallery.h"
#include "interface/extraction.h"
#include "search/search.h"
#include "workspace/workspace.h"

struct orvane_workspace {
    orvane::Workspace ws;
};

struct orvane_gallery {
    explicit orvane_gallery(const std::string& path, orvane::gallery::OpenMode mode) : store(path, mode) {}
    std::mutex lock;  // one connection: one call at a time
    orvane::gallery::Gallery store;
};

struct orvane_template_set {
    mutable std::shared_mutex lock;  // searches share it, adding takes it alone
    orvane::search::TemplateSet templates;
};

namespace {

thread_local std::string lastError;

// Records the failure of this thread's call and returns its code (the
// message is left out when there is no memory for it).
int32_t fail(int32_t code, const char* detail = nullptr) noexcept {
    try {
        lastError = orvane_result_text(code);
        if (detail && *detail) lastError.append(": ").append(detail);
    } catch (...) {
        lastError.clear();
    }
    return code;
}

int32_t fail(int32_t code, const std::string& detail) noexcept { return fail(code, detail.c_str()); }

// Runs body (which returns a result code), turning exceptions into codes.
template <typename Body>
int32_t guarded(Body&& body) noexcept {
    try {
        lastError.clear();
        const int32_t code = body();
        if (code != ORVANE_OK && lastError.empty()) return fail(code);
        return code;
    } catch (const std::bad_alloc&) {
        return fail(ORVANE_E_OUT_OF_MEMORY);
    } catch (const orvane::gallery::GalleryError& e) {
        return fail(ORVANE_E_GALLERY, e.what());
    } catch (const std::exception& e) {
        return fail(ORVANE_E_INTERNAL, e.what());
    } catch (...) {
        return fail(ORVANE_E_INTERNAL);
    }
}

int32_t nullArgument(const char* name) { return fail(ORVANE_E_INVALID_ARGUMENT, std::string(name) + " is null"); }

orvane::search::MatchMode toMode(int32_t mode, bool* known) {
    *known = mode == ORVANE_MATCH_FULL || mode == ORVANE_MATCH_QUICK;
    return mode == ORVANE_MATCH_QUICK ? orvane::search::MatchMode::Quick : orvane::search::MatchMode::Full;
}

// Extraction into a full-size buffer, then copied out when it fits.
template <typename Extract>
int32_t extractInto(uint8_t* templateOut, size_t capacity, size_t* length, Extract&& extract) {
    uint8_t packed[ORVANE_MAX_TEMPLATE_BYTES];
    int32_t packedLength = 0;
    const int32_t code = extract(packed, &packedLength);
    if (code != ORVANE_OK) return code;
    if (static_cast<size_t>(packedLength) > capacity) {
        return fail(ORVANE_E_BUFFER_TOO_SMALL, "the template has " + std::to_string(packedLength) +
                                                   " bytes, the buffer " + std::to_string(capacity));
    }
    std::memcpy(templateOut, packed, static_cast<size_t>(packedLength));
    *length = static_cast<size_t>(packedLength);
    return ORVANE_OK;
}

struct GreyImage {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

// The pixels of an 8-bit bitmap file of at most 640 x 480: 0, 10100 or 10300.
int32_t readImageFile(const char* path, GreyImage& image) {
    int32_t width = 0, height = 0;
    if (orvane::readBitmap(path, nullptr, &width, &height) != 0) return fail(ORVANE_E_LOAD_IMAGE, path);
    if (width > ORVANE_MAX_WIDTH || height > ORVANE_MAX_HEIGHT) return fail(ORVANE_E_IMAGE_SIZE, path);
    image.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    // The file may have changed since: the second read tests the size again.
    if (orvane::readBitmapWithin(path, image.pixels.data(), ORVANE_MAX_WIDTH, ORVANE_MAX_HEIGHT, &width, &height) !=
            0 ||
        image.pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
        return fail(ORVANE_E_LOAD_IMAGE, path);
    }
    image.width = width;
    image.height = height;
    return ORVANE_OK;
}

}  // namespace

extern "C" {

const char* orvane_version(void) { return ORVANE_VERSION_STRING; }

const char* orvane_result_text(int32_t code) {
    switch (code) {
        case ORVANE_OK:
            return "success";
        case ORVANE_E_LOAD_IMAGE:
            return "image file cannot be read or is not an 8-bit bitmap";
        case ORVANE_E_SAVE_IMAGE:
            return "image file cannot be written";
        case ORVANE_E_IMAGE_SIZE:
            return "image size out of range (1..640 x 1..480) or no image";
        case ORVANE_E_EXTRACTION:
            return "extraction failed (too little print or no minutiae found)";
        case ORVANE_E_NO_TEMPLATE:
            return "no template buffer";
        case ORVANE_E_BAD_TEMPLATE:
            return "template is missing or damaged";
        case ORVANE_E_SAVE_TEMPLATE:
            return "template file cannot be written";
        case ORVANE_E_LOAD_TEMPLATE:
            return "template file cannot be read or is damaged";
        case ORVANE_E_INVALID_ARGUMENT:
            return "invalid argument";
        case ORVANE_E_OUT_OF_MEMORY:
            return "out of memory";
        case ORVANE_E_BUFFER_TOO_SMALL:
            return "buffer too small";
        case ORVANE_E_INTERNAL:
            return "internal error";
        case ORVANE_E_GALLERY:
            return "gallery error";
        case ORVANE_E_ENROL_REFUSED:
            return "enrolment refused";
        default:
            return "unknown result code";
    }
}

const char* orvane_error_message(void) { return lastError.c_str(); }

int32_t orvane_workspace_create(orvane_workspace** workspace) {
    return guarded([&]() -> int32_t {
        if (!workspace) return nullArgument("workspace");
        *workspace = new orvane_workspace();
        return ORVANE_OK;
    });
}

int32_t orvane_workspace_destroy(orvane_workspace* workspace) {
    delete workspace;
    lastError.clear();
    return ORVANE_OK;
}

int32_t orvane_extract(orvane_workspace* workspace, const uint8_t* image, int32_t width, int32_t height,
                       uint8_t* template_out, size_t capacity, size_t* length) {
    return guarded([&]() -> int32_t {
        if (!workspace) return nullArgument("workspace");
        if (!image) return nullArgument("image");
        if (!template_out || !length) return nullArgument("template buffer or length");
        return extractInto(template_out, capacity, length, [&](uint8_t* packed, int32_t* packedLength) {
            return orvane::extractTemplate(workspace->ws, image, width, height, packed, packedLength, nullptr);
        });
    });
}

int32_t orvane_extract_file(orvane_workspace* workspace, const char* path, uint8_t* template_out, size_t capacity,
                            size_t* length) {
    return guarded([&]() -> int32_t {
        if (!workspace) return nullArgument("workspace");
        if (!path) return nullArgument("path");
        if (!template_out || !length) return nullArgument("template buffer or length");
        return extractInto(template_out, capacity, length, [&](uint8_t* packed, int32_t* packedLength) {
            const int32_t code = orvane::extractTemplateFromFile(workspace->ws, path, packed, packedLength, nullptr);
            return code == ORVANE_OK ? code : fail(code, path);
        });
    });
}

int32_t orvane_quality(orvane_workspace* workspace, const uint8_t* image, int32_t width, int32_t height,
                       int32_t* quality) {
    return guarded([&]() -> int32_t {
        if (!workspace) return nullArgument("workspace");
        if (!image) return nullArgument("image");
        if (!quality) return nullArgument("quality");
        return orvane::measureQuality(workspace->ws, image, width, height, quality);
    });
}

int32_t orvane_quality_file(orvane_workspace* workspace, const char* path, int32_t* quality) {
    return guarded([&]() -> int32_t {
        if (!workspace) return nullArgument("workspace");
        if (!path) return nullArgument("path");
        if (!quality) return nullArgument("quality");
        GreyImage image;
        const int32_t code = readImageFile(path, image);
        if (code != ORVANE_OK) return code;
        return orvane::measureQuality(workspace->ws, image.pixels.data(), image.width, image.height, quality);
    });
}

int32_t orvane_template_minutiae(const uint8_t* template_bytes, size_t length, orvane_minutia* out, size_t capacity,
                                 size_t* count) {
    return guarded([&]() -> int32_t {
        if (!template_bytes) return nullArgument("template");
        if (!count) return nullArgument("count");
        if (length < 3 || static_cast<size_t>(orvane::templateLength(template_bytes)) != length) {
            return fail(
                ORVANE_E_BAD_TEMPLATE,
                std::to_string(length) + " bytes given, the length field says " +
                    (length < 2 ? std::string("nothing") : std::to_string(orvane::templateLength(template_bytes))));
        }
        orvane::MinutiaSet set;
        if (orvane::unpackTemplate(template_bytes, &set) != 0) return fail(ORVANE_E_BAD_TEMPLATE);
        const size_t n = static_cast<size_t>(set.count);
        if (n > capacity) return fail(ORVANE_E_BUFFER_TOO_SMALL, std::to_string(n) + " minutiae");
        if (n > 0 && !out) return nullArgument("minutia buffer");
        for (size_t i = 0; i < n; ++i) {
            const orvane::Minutia& m = set.minutiae[i];
            out[i] = orvane_minutia{
                m.x, m.y, m.direction, m.kind, {m.ringOrientation[0], m.ringOrientation[1], m.ringOrientation[2]}};
        }
        *count = n;
        return ORVANE_OK;
    });
}

int32_t orvane_match(const uint8_t* probe, size_t probe_length, const uint8_t* reference, size_t reference_length,
                     int32_t mode, int32_t* score) {
    return guarded([&]() -> int32_t {
        if (!score) return nullArgument("score");
        bool known = false;
        const orvane::search::MatchMode searchMode = toMode(mode, &known);
        if (!known) return fail(ORVANE_E_INVALID_ARGUMENT, "unknown match mode");
        orvane::search::Probe prepared;
        if (orvane::search::Probe::prepare(probe, probe_length, prepared) != ORVANE_OK) {
            return fail(ORVANE_E_BAD_TEMPLATE, "the probe");
        }
        int32_t result = 0;
        if (orvane::search::matchTemplate(prepared, reference, reference_length, searchMode, &result) != ORVANE_OK) {
            return fail(ORVANE_E_BAD_TEMPLATE, "the reference");
        }
        *score = result;
        return ORVANE_OK;
    });
}

int32_t orvane_template_set_create(orvane_template_set** set) {
    return guarded([&]() -> int32_t {
        if (!set) return nullArgument("set");
        *set = new orvane_template_set();
        return ORVANE_OK;
    });
}

int32_t orvane_template_set_destroy(orvane_template_set* set) {
    delete set;
    lastError.clear();
    return ORVANE_OK;
}

int32_t orvane_template_set_add(orvane_template_set* set, const uint8_t* template_bytes, size_t length) {
    return guarded([&]() -> int32_t {
        if (!set) return nullArgument("set");
        if (!template_bytes) return nullArgument("template");
        std::unique_lock<std::shared_mutex> hold(set->lock);
        std::string why;
        if (!set->templates.add(template_bytes, length, &why)) return fail(ORVANE_E_BAD_TEMPLATE, why);
        return ORVANE_OK;
    });
}

int32_t orvane_template_set_size(const orvane_template_set* set, size_t* size) {
    return guarded([&]() -> int32_t {
        if (!set) return nullArgument("set");
        if (!size) return nullArgument("size");
        std::shared_lock<std::shared_mutex> hold(set->lock);
        *size = set->templates.size();
        return ORVANE_OK;
    });
}

orvane_search_options orvane_search_defaults(void) {
    const orvane::search::SearchOptions defaults;
    return orvane_search_options{defaults.topK, defaults.threshold, ORVANE_MATCH_FULL, defaults.threads};
}

int32_t orvane_search(const orvane_template_set* set, const uint8_t* probe, size_t probe_length,
                      const orvane_search_options* options, orvane_hit* hits, size_t capacity, size_t* count) {
    return guarded([&]() -> int32_t {
        if (!set) return nullArgument("set");
        if (!options) return nullArgument("options");
        if (!count) return nullArgument("count");
        if (!hits && capacity > 0) return nullArgument("hits");
        orvane::search::SearchOptions searchOptions;
        bool known = false;
        searchOptions.mode = toMode(options->mode, &known);
        if (!known) return fail(ORVANE_E_INVALID_ARGUMENT, "unknown match mode");
        searchOptions.topK = options->top_k;
        searchOptions.threshold = options->threshold;
        searchOptions.threads = options->threads;
        orvane::search::Probe prepared;
        if (orvane::search::Probe::prepare(probe, probe_length, prepared) != ORVANE_OK) {
            return fail(ORVANE_E_BAD_TEMPLATE, "the probe");
        }
        std::vector<orvane::search::Hit> found;
        {
            std::shared_lock<std::shared_mutex> hold(set->lock);
            found = orvane::search::search(set->templates, prepared, searchOptions);
        }
        if (found.size() > capacity) {
            return fail(ORVANE_E_BUFFER_TOO_SMALL, std::to_string(found.size()) + " hits");
        }
        for (size_t i = 0; i < found.size(); ++i) hits[i] = orvane_hit{found[i].index, found[i].score};
        *count = found.size();
        return ORVANE_OK;
    });
}

}  // extern "C"

namespace {

// Enrolment's metadata from the caller's, refusing a null subject.
bool toPrintInfo(const orvane_print_info* info, orvane::gallery::PrintInfo& out) {
    if (!info || !info->subject) return false;
    out.subject = info->subject;
    out.finger = info->finger;
    out.impression = info->impression;
    out.sourceName = info->source_name ? info->source_name : "";
    return true;
}

int32_t enrolled(const orvane::gallery::EnrolOutcome& outcome, int64_t* id) {
    if (!outcome.ok()) return fail(ORVANE_E_ENROL_REFUSED, outcome.message);
    *id = outcome.id;
    return ORVANE_OK;
}

}  // namespace

extern "C" {

int32_t orvane_gallery_open(const char* path, int32_t mode, orvane_gallery** gallery) {
    return guarded([&]() -> int32_t {
        if (!path) return nullArgument("path");
        if (!gallery) return nullArgument("gallery");
        if (mode != ORVANE_GALLERY_READ_WRITE && mode != ORVANE_GALLERY_READ_ONLY) {
            return fail(ORVANE_E_INVALID_ARGUMENT, "unknown gallery mode");
        }
        *gallery = new orvane_gallery(path, mode == ORVANE_GALLERY_READ_ONLY ? orvane::gallery::OpenMode::ReadOnly
                                                                             : orvane::gallery::OpenMode::ReadWrite);
        return ORVANE_OK;
    });
}

int32_t orvane_gallery_close(orvane_gallery* gallery) {
    return guarded([&]() -> int32_t {
        delete gallery;
        return ORVANE_OK;
    });
}

int32_t orvane_gallery_enrol_template(orvane_gallery* gallery, const orvane_print_info* info,
                                      const uint8_t* template_bytes, size_t length, int64_t* id) {
    return guarded([&]() -> int32_t {
        orvane::gallery::PrintInfo printInfo;
        if (!gallery) return nullArgument("gallery");
        if (!toPrintInfo(info, printInfo)) return nullArgument("info or subject");
        if (!template_bytes) return nullArgument("template");
        if (!id) return nullArgument("id");
        std::lock_guard<std::mutex> hold(gallery->lock);
        return enrolled(gallery->store.enrolTemplate(printInfo, template_bytes, length), id);
    });
}

int32_t orvane_gallery_enrol_image(orvane_gallery* gallery, const orvane_print_info* info, const uint8_t* image,
                                   int32_t width, int32_t height, int64_t* id) {
    return guarded([&]() -> int32_t {
        orvane::gallery::PrintInfo printInfo;
        if (!gallery) return nullArgument("gallery");
        if (!toPrintInfo(info, printInfo)) return nullArgument("info or subject");
        if (!image) return nullArgument("image");
        if (!id) return nullArgument("id");
        if (width >= 1 && height >= 1 && width <= ORVANE_MAX_WIDTH && height <= ORVANE_MAX_HEIGHT) {
            printInfo.imageSha256 =
                orvane::gallery::sha256Hex(image, static_cast<size_t>(width) * static_cast<size_t>(height));
        }
        std::lock_guard<std::mutex> hold(gallery->lock);
        return enrolled(gallery->store.enrolImage(printInfo, image, width, height), id);
    });
}

int32_t orvane_gallery_enrol_file(orvane_gallery* gallery, const orvane_print_info* info, const char* path,
                                  int64_t* id) {
    return guarded([&]() -> int32_t {
        orvane::gallery::PrintInfo printInfo;
        if (!gallery) return nullArgument("gallery");
        if (!toPrintInfo(info, printInfo)) return nullArgument("info or subject");
        if (!path) return nullArgument("path");
        if (!id) return nullArgument("id");
        if (!info->source_name) printInfo.sourceName = path;
        GreyImage image;
        const int32_t code = readImageFile(path, image);
        if (code != ORVANE_OK) return code;
        // The file's bytes identify the image, as for the command line's enrolment.
        std::ifstream file(path, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (!file.good() && !file.eof()) return fail(ORVANE_E_LOAD_IMAGE, path);
        printInfo.imageSha256 = orvane::gallery::sha256Hex(bytes.data(), bytes.size());
        std::lock_guard<std::mutex> hold(gallery->lock);
        return enrolled(gallery->store.enrolImage(printInfo, image.pixels.data(), image.width, image.height), id);
    });
}

int32_t orvane_gallery_remove(orvane_gallery* gallery, int64_t id, int32_t* removed) {
    return guarded([&]() -> int32_t {
        if (!gallery) return nullArgument("gallery");
        if (!removed) return nullArgument("removed");
        std::lock_guard<std::mutex> hold(gallery->lock);
        *removed = gallery->store.remove(id) ? 1 : 0;
        return ORVANE_OK;
    });
}

int32_t orvane_gallery_count(orvane_gallery* gallery, size_t* count) {
    return guarded([&]() -> int32_t {
        if (!gallery) return nullArgument("gallery");
        if (!count) return nullArgument("count");
        std::lock_guard<std::mutex> hold(gallery->lock);
        *count = gallery->store.count();
        return ORVANE_OK;
    });
}

int32_t orvane_gallery_identify(orvane_gallery* gallery, const uint8_t* probe, size_t probe_length,
                                const orvane_search_options* options, orvane_gallery_hit* hits, size_t capacity,
                                size_t* count) {
    return guarded([&]() -> int32_t {
        if (!gallery) return nullArgument("gallery");
        if (!options) return nullArgument("options");
        if (!count) return nullArgument("count");
        if (!hits && capacity > 0) return nullArgument("hits");
        bool known = false;
        orvane::gallery::IdentifyOptions identifyOptions;
        identifyOptions.mode = toMode(options->mode, &known);
        if (!known) return fail(ORVANE_E_INVALID_ARGUMENT, "unknown match mode");
        identifyOptions.topK = options->top_k;
        identifyOptions.threshold = options->threshold;
        identifyOptions.threads = options->threads;
        orvane::search::Probe prepared;
        if (orvane::search::Probe::prepare(probe, probe_length, prepared) != ORVANE_OK) {
            return fail(ORVANE_E_BAD_TEMPLATE, "the probe");
        }
        orvane::gallery::IdentifyResult result;
        {
            std::lock_guard<std::mutex> hold(gallery->lock);
            result = gallery->store.identify(prepared, identifyOptions);
        }
        if (result.hits.size() > capacity) {
            return fail(ORVANE_E_BUFFER_TOO_SMALL, std::to_string(result.hits.size()) + " hits");
        }
        for (size_t i = 0; i < result.hits.size(); ++i) {
            const orvane::gallery::Hit& h = result.hits[i];
            orvane_gallery_hit& out = hits[i];
            out.id = h.id;
            out.score = h.score;
            out.finger = h.finger;
            out.impression = h.impression;
            const size_t n = std::min(h.subject.size(), sizeof out.subject - 1);
            std::memcpy(out.subject, h.subject.data(), n);
            out.subject[n] = '\0';
        }
        *count = result.hits.size();
        return ORVANE_OK;
    });
}

int32_t orvane_gallery_verify(orvane_gallery* gallery, const uint8_t* probe, size_t probe_length, const char* subject,
                              int32_t threshold, int32_t mode, int32_t* best_score, int64_t* best_id,
                              int32_t* accepted) {
    return guarded([&]() -> int32_t {
        if (!gallery) return nullArgument("gallery");
        if (!subject) return nullArgument("subject");
        if (!best_score || !best_id || !accepted) return nullArgument("best_score, best_id or accepted");
        bool known = false;
        const orvane::search::MatchMode searchMode = toMode(mode, &known);
        if (!known) return fail(ORVANE_E_INVALID_ARGUMENT, "unknown match mode");
        orvane::search::Probe prepared;
        if (orvane::search::Probe::prepare(probe, probe_length, prepared) != ORVANE_OK) {
            return fail(ORVANE_E_BAD_TEMPLATE, "the probe");
        }
        orvane::gallery::VerifyResult result;
        {
            std::lock_guard<std::mutex> hold(gallery->lock);
            result = gallery->store.verify(probe, probe_length, subject, threshold, searchMode);
        }
        *best_score = result.bestScore;
        *best_id = result.bestId;
        *accepted = result.accepted ? 1 : 0;
        return ORVANE_OK;
    });
}

}  // extern "C"
