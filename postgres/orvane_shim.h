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

/*
 * The exact score when it is at least threshold, else
 * ORVANE_SHIM_BELOW_THRESHOLD, which may be known without the whole search.
 */
#define ORVANE_SHIM_BELOW_THRESHOLD (-1)
OrvaneShimResult orvane_probe_match_at_least(const OrvaneProbe *probe, const uint8_t *reference, size_t length,
											 bool quick, int32_t threshold, int32_t *score, char *why);

/*
 * A top list: at most k hits, ranked by score (higher first), then by id
 * (lower first). While it is being filled it is kept as a heap whose first
 * hit is the one ranked last.
 */
typedef struct OrvaneHit
{
	int64_t		id;
	int32_t		score;
} OrvaneHit;

/* The lowest score a hit needs to enter the list (0 while it has room). */
int32_t		orvane_top_entry_score(const OrvaneHit *heap, int32_t count, int32_t k);

/* Adds the hit when it ranks before the list's last (or the list has room). */
void		orvane_top_offer(OrvaneHit *heap, int32_t *count, int32_t k, OrvaneHit hit);

/* Turns the heap into rank order (which ends its use as a heap). */
void		orvane_top_rank(OrvaneHit *heap, int32_t count);

/* The minutiae as stored (out has room for ORVANE_SHIM_MAX_MINUTIAE). */
OrvaneShimResult orvane_template_minutiae(const uint8_t *bytes, size_t length, OrvaneMinutia *out,
										  int *count, char *why);

#ifdef __cplusplus
}
#endif

#endif							/* ORVANE_SHIM_H */
