/*
 * SQL functions over stored templates. The matching itself happens in the
 * library, reached through orvane_shim.h; this file only moves values between
 * the server and the shim and turns failures into SQL errors.
 */
#include "postgres.h"

#include "fmgr.h"
#include "funcapi.h"
#include "utils/memutils.h"

#include "orvane_shim.h"

PG_MODULE_MAGIC;

PG_FUNCTION_INFO_V1(orvane_match);
PG_FUNCTION_INFO_V1(orvane_template_valid);
PG_FUNCTION_INFO_V1(orvane_minutiae_count);
PG_FUNCTION_INFO_V1(orvane_minutiae);

#define MAX_TEMPLATE_BYTES (7 * ORVANE_SHIM_MAX_MINUTIAE + 4)

/*
 * The prepared probe of one call site (a function call in one query), kept
 * with the bytes it was made from: while rows bring the same probe, it is
 * reused; a different probe replaces it.
 */
typedef struct ProbeCache
{
	OrvaneProbe *probe;
	MemoryContextCallback release;
	size_t		length;
	uint8		bytes[MAX_TEMPLATE_BYTES];
} ProbeCache;

static void
report_failure(OrvaneShimResult result, const char *argument, const char *why)
{
	switch (result)
	{
		case ORVANE_SHIM_OK:
			return;
		case ORVANE_SHIM_BAD_TEMPLATE:
			ereport(ERROR,
					(errcode(ERRCODE_INVALID_BINARY_REPRESENTATION),
					 errmsg("%s is not a valid orvane template", argument),
					 errdetail("%s.", why)));
			break;
		case ORVANE_SHIM_OUT_OF_MEMORY:
			ereport(ERROR,
					(errcode(ERRCODE_OUT_OF_MEMORY),
					 errmsg("out of memory while matching orvane templates")));
			break;
		default:
			ereport(ERROR,
					(errcode(ERRCODE_INTERNAL_ERROR),
					 errmsg("unexpected failure in the orvane matcher")));
			break;
	}
}

static void
release_probe(void *arg)
{
	ProbeCache *cache = (ProbeCache *) arg;

	orvane_probe_free(cache->probe);
	cache->probe = NULL;
}

static const OrvaneProbe *
prepared_probe(FunctionCallInfo fcinfo, const bytea *value)
{
	const uint8 *bytes = (const uint8 *) VARDATA_ANY(value);
	size_t		length = VARSIZE_ANY_EXHDR(value);
	ProbeCache *cache = (ProbeCache *) fcinfo->flinfo->fn_extra;
	OrvaneProbe *fresh = NULL;
	OrvaneShimResult result;
	char		why[ORVANE_SHIM_REASON_BYTES];

	if (cache != NULL && cache->probe != NULL && cache->length == length &&
		memcmp(cache->bytes, bytes, length) == 0)
		return cache->probe;

	if (cache == NULL)
	{
		cache = MemoryContextAllocZero(fcinfo->flinfo->fn_mcxt, sizeof(ProbeCache));
		cache->release.func = release_probe;
		cache->release.arg = cache;
		MemoryContextRegisterResetCallback(fcinfo->flinfo->fn_mcxt, &cache->release);
		fcinfo->flinfo->fn_extra = cache;
	}

	result = orvane_probe_prepare(bytes, length, &fresh, why);
	report_failure(result, "probe", why);

	/* A valid template is never longer than the cache's copy. */
	Assert(length <= MAX_TEMPLATE_BYTES);
	orvane_probe_free(cache->probe);
	cache->probe = fresh;
	cache->length = length;
	memcpy(cache->bytes, bytes, length);
	return fresh;
}

Datum
orvane_match(PG_FUNCTION_ARGS)
{
	bytea	   *probe = PG_GETARG_BYTEA_PP(0);
	bytea	   *reference = PG_GETARG_BYTEA_PP(1);
	bool		quick = PG_GETARG_BOOL(2);
	const OrvaneProbe *prepared = prepared_probe(fcinfo, probe);
	int32		score = 0;
	char		why[ORVANE_SHIM_REASON_BYTES];
	OrvaneShimResult result;

	result = orvane_probe_match(prepared, (const uint8 *) VARDATA_ANY(reference),
								VARSIZE_ANY_EXHDR(reference), quick, &score, why);
	report_failure(result, "reference", why);
	PG_RETURN_INT32(score);
}

Datum
orvane_template_valid(PG_FUNCTION_ARGS)
{
	bytea	   *value = PG_GETARG_BYTEA_PP(0);
	char		why[ORVANE_SHIM_REASON_BYTES];

	PG_RETURN_BOOL(orvane_check_template((const uint8 *) VARDATA_ANY(value),
										 VARSIZE_ANY_EXHDR(value), why) == ORVANE_SHIM_OK);
}

/* Decodes the template argument or raises the error for a bad one. */
static int
decoded_minutiae(FunctionCallInfo fcinfo, OrvaneMinutia *minutiae)
{
	bytea	   *value = PG_GETARG_BYTEA_PP(0);
	int			count = 0;
	char		why[ORVANE_SHIM_REASON_BYTES];
	OrvaneShimResult result;

	result = orvane_template_minutiae((const uint8 *) VARDATA_ANY(value), VARSIZE_ANY_EXHDR(value),
									  minutiae, &count, why);
	report_failure(result, "template", why);
	return count;
}

Datum
orvane_minutiae_count(PG_FUNCTION_ARGS)
{
	OrvaneMinutia minutiae[ORVANE_SHIM_MAX_MINUTIAE];

	PG_RETURN_INT32(decoded_minutiae(fcinfo, minutiae));
}

Datum
orvane_minutiae(PG_FUNCTION_ARGS)
{
	ReturnSetInfo *rsinfo = (ReturnSetInfo *) fcinfo->resultinfo;
	OrvaneMinutia minutiae[ORVANE_SHIM_MAX_MINUTIAE];
	int			count = decoded_minutiae(fcinfo, minutiae);

	InitMaterializedSRF(fcinfo, 0);
	for (int i = 0; i < count; i++)
	{
		Datum		values[4];
		bool		nulls[4] = {false, false, false, false};

		values[0] = Int32GetDatum(minutiae[i].x);
		values[1] = Int32GetDatum(minutiae[i].y);
		values[2] = Int32GetDatum(minutiae[i].direction);
		values[3] = Int32GetDatum(minutiae[i].kind);
		tuplestore_putvalues(rsinfo->setResult, rsinfo->setDesc, values, nulls);
	}
	return (Datum) 0;
}
