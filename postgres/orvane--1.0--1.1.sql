-- Identification that skips what cannot win: a threshold form of orvane_match
-- and a top-k aggregate.
\echo Use "ALTER EXTENSION orvane UPDATE TO '1.1'" to load this file. \quit

-- orvane_match's score when it is at least threshold, else -1 (scores are
-- never negative). A reference that provably cannot reach the threshold is
-- left early, so WHERE orvane_match_at_least(...) >= T is exact and cheaper
-- than WHERE orvane_match(...) >= T.
CREATE FUNCTION orvane_match_at_least(probe bytea, reference bytea, threshold integer, quick boolean DEFAULT false)
RETURNS integer
AS 'MODULE_PATHNAME', 'orvane_match_at_least'
LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE
COST 1000;

-- One hit of orvane_top: the row's id and its exact orvane_match score.
CREATE TYPE orvane_hit AS (id bigint, score integer);

-- orvane_top(probe, template, id, k [, quick]): the k best rows, score first
-- (higher first), then id (lower first), as exactly ORDER BY
-- orvane_match(probe, template, quick) DESC, id LIMIT k would rank them. A row
-- is matched only as far as needed to know it cannot enter the list, so this
-- is much faster than that query; parallel workers each keep a list and the
-- lists are merged. Rows with a NULL probe, template or id are left out; k is
-- 0 to 10000 and, like quick and the probe, the same on every row.
--
--   SELECT hit.id, hit.score FROM unnest((SELECT orvane_top($1, template, id, 10) FROM prints)) AS hit;
CREATE FUNCTION orvane_top_step(internal, bytea, bytea, bigint, integer, boolean)
RETURNS internal AS 'MODULE_PATHNAME', 'orvane_top_step' LANGUAGE C PARALLEL SAFE COST 1000;
CREATE FUNCTION orvane_top_step(internal, bytea, bytea, bigint, integer)
RETURNS internal AS 'MODULE_PATHNAME', 'orvane_top_step' LANGUAGE C PARALLEL SAFE COST 1000;
CREATE FUNCTION orvane_top_combine(internal, internal)
RETURNS internal AS 'MODULE_PATHNAME', 'orvane_top_combine' LANGUAGE C PARALLEL SAFE;
CREATE FUNCTION orvane_top_serialize(internal)
RETURNS bytea AS 'MODULE_PATHNAME', 'orvane_top_serialize' LANGUAGE C STRICT PARALLEL SAFE;
CREATE FUNCTION orvane_top_deserialize(bytea, internal)
RETURNS internal AS 'MODULE_PATHNAME', 'orvane_top_deserialize' LANGUAGE C STRICT PARALLEL SAFE;
CREATE FUNCTION orvane_top_final(internal)
RETURNS orvane_hit[] AS 'MODULE_PATHNAME', 'orvane_top_final' LANGUAGE C STRICT PARALLEL SAFE;

CREATE AGGREGATE orvane_top(probe bytea, template bytea, id bigint, k integer, quick boolean) (
  SFUNC = orvane_top_step, STYPE = internal, FINALFUNC = orvane_top_final,
  COMBINEFUNC = orvane_top_combine, SERIALFUNC = orvane_top_serialize, DESERIALFUNC = orvane_top_deserialize,
  PARALLEL = SAFE);
CREATE AGGREGATE orvane_top(probe bytea, template bytea, id bigint, k integer) (
  SFUNC = orvane_top_step, STYPE = internal, FINALFUNC = orvane_top_final,
  COMBINEFUNC = orvane_top_combine, SERIALFUNC = orvane_top_serialize, DESERIALFUNC = orvane_top_deserialize,
  PARALLEL = SAFE);
