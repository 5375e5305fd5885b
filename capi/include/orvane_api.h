/*
 * The reentrant C API of OrvaneCom, for C hosts and language bindings.
 *
 * Every function returns ORVANE_OK (0) or an error code: the library's codes
 * from orvane.h where the same failure applies (10300 image size, 10400
 * extraction, 10700 bad template, ...) and the ORVANE_E_* codes below for
 * the rest. No function aborts or lets an exception out; a null handle or
 * out-pointer is an error (ORVANE_E_INVALID_ARGUMENT), and out-parameters are
 * written only on success. orvane_error_message() gives a one-line account of
 * the last failure on the calling thread.
 *
 * Threads: a workspace serves one call at a time; give each thread its own
 * (about 1.3 MB each) and they extract in parallel. Matching needs no
 * workspace. A template set may be searched from several threads at once;
 * adding to it waits for searches in progress. A gallery handle serves one
 * call at a time.
 *
 * Templates, scores and quality values equal those of the eight exports of
 * orvane.h (Extract, ExtractEx, GetQuality, VerifyMatch).
 */
#ifndef ORVANE_API_H
#define ORVANE_API_H

#include <stddef.h>
#include <stdint.h>

#include "orvane.h"

#if defined(_WIN32)
#  define ORVANE_C_API
#else
#  define ORVANE_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    ORVANE_E_INVALID_ARGUMENT = 20000, /* null handle or pointer, unknown mode, bad option */
    ORVANE_E_OUT_OF_MEMORY = 20100,
    ORVANE_E_BUFFER_TOO_SMALL = 20200, /* the output does not fit in the capacity given */
    ORVANE_E_INTERNAL = 20300,         /* an unexpected failure inside the library */
    ORVANE_E_GALLERY = 20400,          /* the gallery file cannot be opened, read or written */
    ORVANE_E_ENROL_REFUSED = 20500     /* bad subject, finger or print; image or finger enrolled already */
};

/* Match modes (the `mode` arguments): the two searches of VerifyMatch. */
enum { ORVANE_MATCH_FULL = 0, ORVANE_MATCH_QUICK = 1 };

/* Library version, e.g. "0.1.0". */
ORVANE_C_API const char* orvane_version(void);

/* A fixed text for any result code ("unknown result code" for others). */
ORVANE_C_API const char* orvane_result_text(int32_t code);

/* The last failure on this thread, with details when known (which argument,
 * which entry); "" when the thread has had none. Valid until the thread's
 * next call into this API. */
ORVANE_C_API const char* orvane_error_message(void);

/* ---- Extraction ---------------------------------------------------------- */

typedef struct orvane_workspace orvane_workspace;

ORVANE_C_API int32_t orvane_workspace_create(orvane_workspace** workspace);
/* Destroying a null workspace does nothing and returns ORVANE_OK. */
ORVANE_C_API int32_t orvane_workspace_destroy(orvane_workspace* workspace);

/* Template of a width x height grey image (rows in order, 0 = black, at most
 * 640 x 480). The template needs at most ORVANE_MAX_TEMPLATE_BYTES bytes;
 * *length receives its size. Codes: 0, 10300, 10400, 20000, 20200. */
ORVANE_C_API int32_t orvane_extract(orvane_workspace* workspace, const uint8_t* image, int32_t width,
                                    int32_t height, uint8_t* template_out, size_t capacity, size_t* length);

/* As orvane_extract, from an 8-bit bitmap file. Codes: 0, 10100, 10400, 20000, 20200. */
ORVANE_C_API int32_t orvane_extract_file(orvane_workspace* workspace, const char* path, uint8_t* template_out,
                                         size_t capacity, size_t* length);

/* Share of the frame covered by print, 0 to 100. Codes: 0, 10300, 20000. */
ORVANE_C_API int32_t orvane_quality(orvane_workspace* workspace, const uint8_t* image, int32_t width,
                                    int32_t height, int32_t* quality);

/* As orvane_quality, from an 8-bit bitmap file. Codes: 0, 10100, 10300, 20000. */
ORVANE_C_API int32_t orvane_quality_file(orvane_workspace* workspace, const char* path, int32_t* quality);

/* ---- Templates and matching ---------------------------------------------- */

typedef struct {
    int32_t x;
    int32_t y;
    int32_t direction;            /* 0..359 degrees, 90 points towards increasing y */
    int32_t kind;                 /* 1 ending, 2 bifurcation */
    int32_t ring_orientation[3];  /* 0..179, or 255 for no sample */
} orvane_minutia;

/* The minutiae of a template of exactly `length` bytes (at most
 * ORVANE_MAX_MINUTIAE). Codes: 0, 10700 (damaged, or its length field is not
 * `length`), 20000, 20200. */
ORVANE_C_API int32_t orvane_template_minutiae(const uint8_t* template_bytes, size_t length, orvane_minutia* out,
                                              size_t capacity, size_t* count);

/* Score of probe against reference, as VerifyMatch. Codes: 0, 10700, 20000. */
ORVANE_C_API int32_t orvane_match(const uint8_t* probe, size_t probe_length, const uint8_t* reference,
                                  size_t reference_length, int32_t mode, int32_t* score);

/* ---- 1:N search ---------------------------------------------------------- */

typedef struct orvane_template_set orvane_template_set;

ORVANE_C_API int32_t orvane_template_set_create(orvane_template_set** set);
/* Destroying a null set does nothing and returns ORVANE_OK. */
ORVANE_C_API int32_t orvane_template_set_destroy(orvane_template_set* set);
/* Appends a template; its index is the set's size before the call. A damaged
 * template is refused with 10700 and the set is left unchanged. */
ORVANE_C_API int32_t orvane_template_set_add(orvane_template_set* set, const uint8_t* template_bytes,
                                             size_t length);
ORVANE_C_API int32_t orvane_template_set_size(const orvane_template_set* set, size_t* size);

typedef struct {
    size_t top_k;             /* at most this many hits */
    int32_t threshold;        /* only entries scoring at least this */
    int32_t mode;             /* ORVANE_MATCH_FULL or ORVANE_MATCH_QUICK */
    uint32_t threads;         /* 0: one per core */
} orvane_search_options;

typedef struct {
    size_t index;   /* position in the set */
    int32_t score;  /* the score orvane_match gives for probe and entry */
} orvane_hit;

/* Options of ten hits, threshold 0, full search, one thread per core. */
ORVANE_C_API orvane_search_options orvane_search_defaults(void);

/* The best entries for the probe (at most options->top_k): score descending,
 * then lower index first. Codes: 0, 10700, 20000, 20100, 20200 (more hits
 * than `capacity`; a capacity of top_k always suffices). */
ORVANE_C_API int32_t orvane_search(const orvane_template_set* set, const uint8_t* probe, size_t probe_length,
                                   const orvane_search_options* options, orvane_hit* hits, size_t capacity,
                                   size_t* count);

/* ---- Gallery: enrolled prints kept in an SQLite file ---------------------- */

/* A gallery handle is one database connection; calls on one handle from
 * several threads wait for each other (open one handle per thread to work in
 * parallel). Several processes may read a gallery while one writes it. */
typedef struct orvane_gallery orvane_gallery;

/* Gallery open modes. */
enum { ORVANE_GALLERY_READ_WRITE = 0, ORVANE_GALLERY_READ_ONLY = 1 };

/* Read-write creates the file when missing. Codes: 0, 20000, 20400. */
ORVANE_C_API int32_t orvane_gallery_open(const char* path, int32_t mode, orvane_gallery** gallery);
/* Closing a null gallery does nothing and returns ORVANE_OK. */
ORVANE_C_API int32_t orvane_gallery_close(orvane_gallery* gallery);

typedef struct {
    const char* subject;      /* 1..255 bytes of UTF-8, no control characters */
    int32_t finger;           /* 0 unknown, 1..10 */
    int32_t impression;       /* 0 unknown, 1..1000000 */
    const char* source_name;  /* file the print came from; may be null */
} orvane_print_info;

/* Enrolment of a template, of a grey image or of an 8-bit bitmap file.
 * Images are extracted, their quality measured and the SHA-256 of their
 * bytes kept (the pixels of an image, the whole file of a bitmap): the same
 * bytes are refused a second time. *id receives the new row. Codes: 0,
 * 10100 (file), 20000, 20400, 20500 (orvane_error_message() says why). */
ORVANE_C_API int32_t orvane_gallery_enrol_template(orvane_gallery* gallery, const orvane_print_info* info,
                                                   const uint8_t* template_bytes, size_t length, int64_t* id);
ORVANE_C_API int32_t orvane_gallery_enrol_image(orvane_gallery* gallery, const orvane_print_info* info,
                                                const uint8_t* image, int32_t width, int32_t height, int64_t* id);
ORVANE_C_API int32_t orvane_gallery_enrol_file(orvane_gallery* gallery, const orvane_print_info* info,
                                               const char* path, int64_t* id);

/* *removed is 1 when the row existed, else 0. */
ORVANE_C_API int32_t orvane_gallery_remove(orvane_gallery* gallery, int64_t id, int32_t* removed);
ORVANE_C_API int32_t orvane_gallery_count(orvane_gallery* gallery, size_t* count);

typedef struct {
    int64_t id;
    int32_t score;
    int32_t finger;
    int32_t impression;
    char subject[256];  /* nul-terminated */
} orvane_gallery_hit;

/* 1:N identification over the gallery (options as orvane_search): score
 * descending, then row id ascending. Codes: 0, 10700, 20000, 20200, 20400. */
ORVANE_C_API int32_t orvane_gallery_identify(orvane_gallery* gallery, const uint8_t* probe, size_t probe_length,
                                             const orvane_search_options* options, orvane_gallery_hit* hits,
                                             size_t capacity, size_t* count);

/* 1:1 verification against every print of a subject: the best score and its
 * row (0 when the subject has none); *accepted is 1 when the best score is at
 * least the threshold. Codes: 0, 10700, 20000, 20400. */
ORVANE_C_API int32_t orvane_gallery_verify(orvane_gallery* gallery, const uint8_t* probe, size_t probe_length,
                                           const char* subject, int32_t threshold, int32_t mode,
                                           int32_t* best_score, int64_t* best_id, int32_t* accepted);

#ifdef __cplusplus
}
#endif

#endif
