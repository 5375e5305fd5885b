-- Functions over fingerprint templates stored as bytea.
\echo Use "CREATE EXTENSION orvane" to load this file. \quit

-- The score of probe against reference, as VerifyMatch gives it: the full
-- search, or the quick search when quick is true. The probe is prepared once
-- per query and call site, so keep it constant across rows (a parameter or a
-- literal) and put the stored templates in the second argument.
CREATE FUNCTION orvane_match(probe bytea, reference bytea, quick boolean DEFAULT false)
RETURNS integer
AS 'MODULE_PATHNAME', 'orvane_match'
LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE
-- One comparison costs about as much as a thousand simple operators; saying
-- so lets the planner choose parallel scans and test cheaper conditions first.
COST 1000;

-- True when the value is exactly one well-formed template.
CREATE FUNCTION orvane_template_valid(bytea)
RETURNS boolean
AS 'MODULE_PATHNAME', 'orvane_template_valid'
LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

CREATE FUNCTION orvane_minutiae_count(bytea)
RETURNS integer
AS 'MODULE_PATHNAME', 'orvane_minutiae_count'
LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- The minutiae as stored: position in pixels, direction in degrees
-- (90 points towards increasing y), kind 1 = ending, 2 = bifurcation.
CREATE FUNCTION orvane_minutiae(bytea)
RETURNS TABLE (x integer, y integer, direction integer, kind integer)
AS 'MODULE_PATHNAME', 'orvane_minutiae'
LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE
ROWS 60;
