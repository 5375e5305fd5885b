/*
 * OrvaneCom: fingerprint feature extraction and matching.
 *
 * The eight exports take 32-bit arguments and return a signed 32-bit result
 * code: 0 on success or one of the ORVANE_E_* codes below. Out-parameters are
 * written only on success (LoadFeature fills the template buffer before it
 * tests the check byte). Extract, ExtractEx and GetQuality share one static
 * workspace and must not run at the same time; the other five may run on any
 * thread at any time.
 *
 * A template buffer needs at most ORVANE_MAX_TEMPLATE_BYTES (424) bytes.
 */
#ifndef ORVANE_H
#define ORVANE_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(ORVANE_BUILDING_LIBRARY)
#    define ORVANE_API __declspec(dllexport)
#  else
#    define ORVANE_API __declspec(dllimport)
#  endif
#  define ORVANE_CALL __cdecl
#else
#  define ORVANE_API __attribute__((visibility("default")))
#  define ORVANE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    ORVANE_OK = 0,
    ORVANE_E_LOAD_IMAGE = 10100,      /* bitmap unreadable, not "BM", wrong format; ExtractEx: over 640 x 480 */
    ORVANE_E_SAVE_IMAGE = 10200,      /* bitmap file cannot be created */
    ORVANE_E_IMAGE_SIZE = 10300,      /* width over 640 or height over 480 (or below 1) */
    ORVANE_E_EXTRACTION = 10400,      /* too little foreground, or minutia detection failed */
    ORVANE_E_NO_TEMPLATE = 10600,     /* template buffer pointer is null */
    ORVANE_E_BAD_TEMPLATE = 10700,    /* VerifyMatch: a template is null or damaged */
    ORVANE_E_SAVE_TEMPLATE = 10900,   /* SaveFeature: damaged template or file cannot be created */
    ORVANE_E_LOAD_TEMPLATE = 11000    /* LoadFeature: file unreadable or damaged */
};

#define ORVANE_MAX_WIDTH 640
#define ORVANE_MAX_HEIGHT 480
#define ORVANE_MAX_MINUTIAE 60
#define ORVANE_MAX_TEMPLATE_BYTES 424

/* Template of a width x height grey image (row after row, 0 = black). */
ORVANE_API int32_t ORVANE_CALL Extract(int32_t width, int32_t height, const uint8_t* image,
                                       int32_t reserved, uint8_t* featureTemplate, int32_t* length);

/* Template of an 8-bit bitmap file. */
ORVANE_API int32_t ORVANE_CALL ExtractEx(const char* path, int32_t reserved, uint8_t* featureTemplate,
                                         int32_t* length);

/* Share of the frame covered by print, 0 to 100. */
ORVANE_API int32_t ORVANE_CALL GetQuality(const uint8_t* image, int32_t width, int32_t height,
                                          int32_t* quality);

/* Match score of two templates; flag low byte 0 = full search, otherwise quick search. */
ORVANE_API int32_t ORVANE_CALL VerifyMatch(const uint8_t* template1, const uint8_t* template2,
                                           int32_t* score, int32_t flag);

ORVANE_API int32_t ORVANE_CALL SaveFeature(const char* path, const uint8_t* featureTemplate);
ORVANE_API int32_t ORVANE_CALL LoadFeature(const char* path, uint8_t* featureTemplate);

/* Reads an 8-bit bitmap; with a null image only the size is returned. */
ORVANE_API int32_t ORVANE_CALL LoadFinger(const char* path, uint8_t* image, int32_t* width,
                                          int32_t* height);
ORVANE_API int32_t ORVANE_CALL SaveFinger(const char* path, const uint8_t* image, int32_t width,
                                          int32_t height);

#ifdef __cplusplus
}
#endif

#endif
