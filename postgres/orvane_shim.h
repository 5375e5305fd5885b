/*
 * The C side of the extension calls the matcher only through these
 * functions. They never throw and never call back into the server: every
 * failure comes back as a code, with a sentence for the error detail where
 * a template was at fault.
 */
#ifndef ORVANE_SHIM_H
#define ORVANE_SHIM_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum OrvaneShimResult
{
	ORVANE_SHIM_OK = 0,
	ORVANE_SHIM_BAD_TEMPLATE,	/* "why" holds the reason */
	ORVANE_SHIM_OUT_OF_MEMORY,
	ORVANE_SHIM_INTERNAL_ERROR
} OrvaneShimResult;

/* Room for any reason written into a "why" buffer. */
#define ORVANE_SHIM_REASON_BYTES 160
#define ORVANE_SHIM_MAX_MINUTIAE 60

typedef struct OrvaneMinutia
{
	int32_t		x;
	int32_t		y;
	int32_t		direction;
	int32_t		kind;
} OrvaneMinutia;

/* A probe decoded and prepared for many comparisons. */
typedef struct OrvaneProbe OrvaneProbe;

/*
 * A value is a template when it is exactly as long as its length field says,
 * 4..424 bytes, its count agrees with that length and its check byte is right.
 */
OrvaneShimResult orvane_check_template(const uint8_t *bytes, size_t length, char *why);

/* *out is set only on success; free it with orvane_probe_free. */
OrvaneShimResult orvane_probe_prepare(const uint8_t *bytes, size_t length, OrvaneProbe **out, char *why);
void		orvane_probe_free(OrvaneProbe *probe);

/* The exact VerifyMatch score of the probe against the reference. */
OrvaneShimResult orvane_probe_match(const OrvaneProbe *probe, const uint8_t *reference, size_t length,
									bool quick, int32_t *score, char *why);

/* The minutiae as stored (out has room for ORVANE_SHIM_MAX_MINUTIAE). */
OrvaneShimResult orvane_template_minutiae(const uint8_t *bytes, size_t length, OrvaneMinutia *out,
										  int *count, char *why);

#ifdef __cplusplus
}
#endif

#endif							/* ORVANE_SHIM_H */
