/*
 * SQL functions over stored templates. The matching itself happens in the
 * library, reached through orvane_shim.h; this file only moves values between
 * the server and the shim and turns failures into SQL errors.
 */
#include "postgres.h"

#include "fmgr.h"
#include "funcapi.h"
#include "utils/array.h"
#include "utils/lsyscache.h"
#include "utils/memutils.h"

#include "orvane_shim.h"

PG_MODULE_MAGIC;

PG_FUNCTION_INFO_V1(orvane_match);
PG_FUNCTION_INFO_V1(orvane_match_at_least);
PG_FUNCTION_INFO_V1(orvane_top_step);
PG_FUNCTION_INFO_V1(orvane_top_combine);
PG_FUNCTION_INFO_V1(orvane_top_serialize);
PG_FUNCTION_INFO_V1(orvane_top_deserialize);
PG_FUNCTION_INFO_V1(orvane_top_final);
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
orvane_match_at_least(PG_FUNCTION_ARGS)
{
	bytea	   *probe = PG_GETARG_BYTEA_PP(0);
	bytea	   *reference = PG_GETARG_BYTEA_PP(1);
	int32		threshold = PG_GETARG_INT32(2);
	bool		quick = PG_GETARG_BOOL(3);
	const OrvaneProbe *prepared = prepared_probe(fcinfo, probe);
	int32		score = 0;
	char		why[ORVANE_SHIM_REASON_BYTES];
	OrvaneShimResult result;

	result = orvane_probe_match_at_least(prepared, (const uint8 *) VARDATA_ANY(reference),
										 VARSIZE_ANY_EXHDR(reference), quick, threshold, &score, why);
	report_failure(result, "reference", why);
	PG_RETURN_INT32(score);
}

/*
 * orvane_top: the aggregate that keeps the k best rows of one probe. Each
 * row is matched only as far as needed to know whether it can still enter
 * the list (the list's last score is the floor); parallel workers each keep
 * their own list, merged by the combine function.
 */
#define TOP_MAX_K 10000

typedef struct TopState
{
	int32		k;
	bool		quick;
	int32		count;
	OrvaneHit	hits[FLEXIBLE_ARRAY_MEMBER];	/* k of them; a heap, see orvane_shim.h */
} TopState;

#define TOP_STATE_BYTES(k) (offsetof(TopState, hits) + (Size) (k) * sizeof(OrvaneHit))

static TopState *
new_top_state(MemoryContext context, int32 k, bool quick)
{
	TopState   *state;

	if (k < 0 || k > TOP_MAX_K)
		ereport(ERROR,
				(errcode(ERRCODE_INVALID_PARAMETER_VALUE),
				 errmsg("orvane_top keeps 0 to %d rows, not %d", TOP_MAX_K, k)));
	state = MemoryContextAllocZero(context, TOP_STATE_BYTES(k));
	state->k = k;
	state->quick = quick;
	state->count = 0;
	return state;
}

/* Every row of one list must ask for the same k and search. */
static void
check_same_request(const TopState *state, int32 k, bool quick)
{
	if (state->k != k || state->quick != quick)
		ereport(ERROR,
				(errcode(ERRCODE_INVALID_PARAMETER_VALUE),
				 errmsg("orvane_top needs the same k and quick on every row of a group")));
}

static MemoryContext
aggregate_context(FunctionCallInfo fcinfo, const char *name)
{
	MemoryContext context;

	if (!AggCheckCallContext(fcinfo, &context))
		elog(ERROR, "%s called outside an aggregate", name);
	return context;
}

/* (state, probe, template, id, k [, quick]): rows with a NULL probe, template or id are left out. */
Datum
orvane_top_step(PG_FUNCTION_ARGS)
{
	MemoryContext context = aggregate_context(fcinfo, "orvane_top_step");
	TopState   *state = PG_ARGISNULL(0) ? NULL : (TopState *) PG_GETARG_POINTER(0);
	bool		quick = false;
	int32		k;
	int32		threshold;
	int32		score = 0;
	bytea	   *reference;
	char		why[ORVANE_SHIM_REASON_BYTES];
	OrvaneShimResult result;

	if (PG_ARGISNULL(4) || (PG_NARGS() > 5 && PG_ARGISNULL(5)))
		ereport(ERROR,
				(errcode(ERRCODE_NULL_VALUE_NOT_ALLOWED),
				 errmsg("orvane_top's k and quick must not be NULL")));
	k = PG_GETARG_INT32(4);
	if (PG_NARGS() > 5)
		quick = PG_GETARG_BOOL(5);
	if (state == NULL)
		state = new_top_state(context, k, quick);
	else
		check_same_request(state, k, quick);
	if (PG_ARGISNULL(1) || PG_ARGISNULL(2) || PG_ARGISNULL(3) || k == 0)
		PG_RETURN_POINTER(state);

	reference = PG_GETARG_BYTEA_PP(2);
	threshold = orvane_top_entry_score(state->hits, state->count, k);
	result = orvane_probe_match_at_least(prepared_probe(fcinfo, PG_GETARG_BYTEA_PP(1)),
										 (const uint8 *) VARDATA_ANY(reference), VARSIZE_ANY_EXHDR(reference),
										 quick, threshold, &score, why);
	report_failure(result, "template", why);
	if (score >= threshold)
	{
		OrvaneHit	hit = {PG_GETARG_INT64(3), score};

		orvane_top_offer(state->hits, &state->count, k, hit);
	}
	PG_RETURN_POINTER(state);
}

Datum
orvane_top_combine(PG_FUNCTION_ARGS)
{
	MemoryContext context = aggregate_context(fcinfo, "orvane_top_combine");
	TopState   *into = PG_ARGISNULL(0) ? NULL : (TopState *) PG_GETARG_POINTER(0);
	TopState   *from = PG_ARGISNULL(1) ? NULL : (TopState *) PG_GETARG_POINTER(1);

	if (from == NULL)
	{
		if (into == NULL)
			PG_RETURN_NULL();
		PG_RETURN_POINTER(into);
	}
	if (into == NULL)
		into = new_top_state(context, from->k, from->quick);
	else
		check_same_request(into, from->k, from->quick);
	for (int32 i = 0; i < from->count; i++)
		orvane_top_offer(into->hits, &into->count, into->k, from->hits[i]);
	PG_RETURN_POINTER(into);
}

/* A worker's list travels as the state's own bytes, hits up to its count. */
Datum
orvane_top_serialize(PG_FUNCTION_ARGS)
{
	TopState   *state = (TopState *) PG_GETARG_POINTER(0);
	Size		bytes = TOP_STATE_BYTES(state->count);
	bytea	   *out;

	aggregate_context(fcinfo, "orvane_top_serialize");
	out = palloc(VARHDRSZ + bytes);
	SET_VARSIZE(out, VARHDRSZ + bytes);
	memcpy(VARDATA(out), state, bytes);
	PG_RETURN_BYTEA_P(out);
}

Datum
orvane_top_deserialize(PG_FUNCTION_ARGS)
{
	bytea	   *in = PG_GETARG_BYTEA_PP(0);
	Size		bytes = VARSIZE_ANY_EXHDR(in);
	TopState	header;
	TopState   *state;

	aggregate_context(fcinfo, "orvane_top_deserialize");
	if (bytes < offsetof(TopState, hits))
		elog(ERROR, "orvane_top: a serialized state of %zu bytes is too short", bytes);
	memcpy(&header, VARDATA_ANY(in), offsetof(TopState, hits));
	if (header.k < 0 || header.k > TOP_MAX_K || header.count < 0 || header.count > header.k ||
		bytes != TOP_STATE_BYTES(header.count))
		elog(ERROR, "orvane_top: a serialized state is damaged");
	state = palloc(TOP_STATE_BYTES(header.k));
	memcpy(state, VARDATA_ANY(in), bytes);
	PG_RETURN_POINTER(state);
}

/* The hits in rank order, as an array of the extension's orvane_hit. */
Datum
orvane_top_final(PG_FUNCTION_ARGS)
{
	TopState   *state = (TopState *) PG_GETARG_POINTER(0);
	Oid			hit_type = get_element_type(get_fn_expr_rettype(fcinfo->flinfo));
	OrvaneHit  *ranked;
	Datum	   *elements;
	TupleDesc	hit_desc;
	int16		length;
	bool		by_value;
	char		align;

	if (!OidIsValid(hit_type))
		elog(ERROR, "orvane_top_final: no array result type");
	if (state->count == 0)
		PG_RETURN_ARRAYTYPE_P(construct_empty_array(hit_type));

	/* Sorted as a copy: the state stays as the aggregate left it. */
	ranked = palloc(state->count * sizeof(OrvaneHit));
	memcpy(ranked, state->hits, state->count * sizeof(OrvaneHit));
	orvane_top_rank(ranked, state->count);

	hit_desc = TypeGetTupleDesc(hit_type, NIL);
	hit_desc = BlessTupleDesc(hit_desc);
	elements = palloc(state->count * sizeof(Datum));
	for (int32 i = 0; i < state->count; i++)
	{
		Datum		values[2] = {Int64GetDatum(ranked[i].id), Int32GetDatum(ranked[i].score)};
		bool		nulls[2] = {false, false};

		elements[i] = HeapTupleGetDatum(heap_form_tuple(hit_desc, values, nulls));
	}
	get_typlenbyvalalign(hit_type, &length, &by_value, &align);
	PG_RETURN_ARRAYTYPE_P(construct_array(elements, state->count, hit_type, length, by_value, align));
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
