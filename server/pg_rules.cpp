#include "pg_rules.h"

#include "pg_sql.h"

namespace zdbd {

namespace {

// Bumped whenever the functions below change: a database made by an older zdbd gets them anew.
constexpr const char* kVersion = "zdbd rules 1";

// The functions live in zdb_system, shared by every ZDB database of the PostgreSQL database.
// They run with zdbd's rights (a script's role cannot read the rule catalog) and name every
// object with its schema, so that no search path of the writer's can stand in for them.
constexpr const char* kFunctions = R"sql(
-- A glob pattern (* any run, ? one character, [...] a class, ^ negating it) as an anchored
-- regular expression; null for a class that never closes, which matches nothing.
CREATE OR REPLACE FUNCTION zdb_system.zdb_glob(p text) RETURNS text LANGUAGE plpgsql IMMUTABLE
AS $f$
DECLARE r text := '^'; i int := 1; n int := length(p); c text; k int;
BEGIN
  WHILE i <= n LOOP
    c := substr(p, i, 1);
    IF c = '*' THEN r := r || '.*';
    ELSIF c = '?' THEN r := r || '.';
    ELSIF c = '[' THEN
      k := i + 1;
      IF substr(p, k, 1) = '^' THEN k := k + 1; END IF;
      k := k + 1;  -- a ] right after the opening is a member
      WHILE k <= n AND substr(p, k, 1) <> ']' LOOP k := k + 1; END LOOP;
      IF k > n THEN RETURN NULL; END IF;
      r := r || '[' || replace(substr(p, i + 1, k - i - 1), '\', '\\') || ']';
      i := k;
    ELSE r := r || regexp_replace(c, '([.^$*+?()\[\]{}|\\])', '\\\1');
    END IF;
    i := i + 1;
  END LOOP;
  RETURN r || '$';
END$f$;

-- A text read as zdbd reads numbers: its leading number, 0 when it has none.
CREATE OR REPLACE FUNCTION zdb_system.zdb_num(t text) RETURNS double precision
LANGUAGE sql IMMUTABLE AS $f$
  SELECT coalesce(substring(t FROM '^\s*[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?')::float8, 0)
$f$;

-- Whether a record of s.t other than record `skip_row` holds value v (a text) in column c; a
-- value the column's type cannot hold is held by none.
CREATE OR REPLACE FUNCTION zdb_system.zdb_holds(s text, t text, c text, v text, skip_row bigint)
RETURNS boolean LANGUAGE plpgsql AS $f$
DECLARE ty text; r boolean;
BEGIN
  SELECT format_type(a.atttypid, NULL) INTO ty FROM pg_catalog.pg_attribute a
   JOIN pg_catalog.pg_class k ON k.oid = a.attrelid
   JOIN pg_catalog.pg_namespace n ON n.oid = k.relnamespace
   WHERE n.nspname = s AND k.relname = t AND a.attname = c AND NOT a.attisdropped;
  IF ty IS NULL OR coalesce(v, '') = '' THEN RETURN false; END IF;
  BEGIN
    EXECUTE format('SELECT EXISTS(SELECT 1 FROM %I.%I WHERE %I = CAST($1 AS %s) AND rowid <> $2)',
                   s, t, c, ty) INTO r USING v, skip_row;
  EXCEPTION WHEN data_exception THEN r := false;
  END;
  RETURN r;
END$f$;

-- Every ZDB table with rules has three triggers on this function: defaults before an insert,
-- constraints and cross references after each row, and a refused TRUNCATE of a referenced table.
CREATE OR REPLACE FUNCTION zdb_system.zdb_rules() RETURNS trigger LANGUAGE plpgsql
SECURITY DEFINER SET search_path = pg_catalog AS $f$
DECLARE
  s text := TG_TABLE_SCHEMA; tb text; r record; j jsonb; o jsonb; col text; v text; k text;
  num boolean; bad boolean; hit boolean; changed boolean := false; it text;
BEGIN
  -- zdbd's record path has applied every rule already, answering with the protocol's statuses.
  IF current_setting('zdb.engine', true) = 'on' AND session_user = current_user THEN
    RETURN CASE WHEN TG_OP = 'DELETE' THEN OLD ELSE NEW END;
  END IF;
  EXECUTE format('SELECT name FROM %I.zdb_tables WHERE lower(name) = $1', s)
    INTO tb USING TG_TABLE_NAME;
  IF tb IS NULL THEN RETURN CASE WHEN TG_OP = 'DELETE' THEN OLD ELSE NEW END; END IF;

  IF TG_OP = 'TRUNCATE' THEN
    EXECUTE format('SELECT name FROM %I.zdb_xrefs WHERE ttbl = $1 ORDER BY name LIMIT 1', s)
      INTO k USING tb;
    IF k IS NOT NULL THEN
      RAISE EXCEPTION USING ERRCODE = 'foreign_key_violation', MESSAGE = format(
        'table %s refused: cross reference %s points at it; delete its records instead', tb, k);
    END IF;
    RETURN NULL;
  END IF;

  IF TG_WHEN = 'BEFORE' THEN
    -- Fields an insert leaves null receive their default, as AppendBlank's do.
    j := to_jsonb(NEW);
    FOR r IN EXECUTE format('SELECT field, value FROM %I.zdb_defaults WHERE tbl = $1', s)
        USING tb LOOP
      col := lower(r.field);
      IF j ? col AND jsonb_typeof(j -> col) = 'null' THEN
        j := jsonb_set(j, ARRAY[col], to_jsonb(r.value));
        changed := true;
      END IF;
    END LOOP;
    IF changed THEN NEW := jsonb_populate_record(NEW, j); END IF;
    RETURN NEW;
  END IF;

  IF TG_OP IN ('INSERT', 'UPDATE') THEN
    j := to_jsonb(NEW);
    IF TG_OP = 'UPDATE' THEN o := to_jsonb(OLD); END IF;
    -- A field emptied by a delete rule (NULLIFY) is that rule's doing, not a write to check.
    IF pg_trigger_depth() = 1 THEN
      FOR r IN EXECUTE format('SELECT c.num, c.field, c.kind, c.v1, c.v2, f.type, f.subtype'
          ' FROM %I.zdb_constraints c JOIN %I.zdb_fields f ON f.tbl = c.tbl AND f.name = c.field'
          ' WHERE c.tbl = $1 ORDER BY c.num', s, s) USING tb LOOP
        col := lower(r.field);
        IF TG_OP = 'UPDATE' AND (j -> col) IS NOT DISTINCT FROM (o -> col) THEN CONTINUE; END IF;
        v := j ->> col;
        IF TG_OP = 'INSERT' AND v IS NULL THEN CONTINUE; END IF;  -- fields it does not set
        num := r.type IN ('N', 'I') OR (r.type = 'C' AND r.subtype = 'N');
        IF r.kind = 'M' THEN
          bad := coalesce(v, '') = '';
        ELSIF coalesce(v, '') = '' THEN
          bad := false;
        ELSIF r.kind = 'R' THEN
          bad := CASE WHEN coalesce(r.v1, '') = '' THEN false
                      WHEN num THEN zdb_system.zdb_num(v) < zdb_system.zdb_num(r.v1)
                      ELSE v < r.v1 COLLATE "C" END
              OR CASE WHEN coalesce(r.v2, '') = '' THEN false
                      WHEN num THEN zdb_system.zdb_num(v) > zdb_system.zdb_num(r.v2)
                      ELSE v > r.v2 COLLATE "C" END;
        ELSIF r.kind = 'L' THEN
          hit := false;
          FOREACH it IN ARRAY string_to_array(r.v1, ',') LOOP
            it := btrim(it, E' \t');
            hit := hit OR CASE WHEN num THEN zdb_system.zdb_num(v) = zdb_system.zdb_num(it)
                               ELSE v = it END;
          END LOOP;
          bad := NOT hit;
        ELSIF r.kind = 'P' THEN
          bad := NOT coalesce(v ~ zdb_system.zdb_glob(r.v1), false);
        ELSIF r.kind = 'U' THEN
          bad := zdb_system.zdb_holds(s, TG_TABLE_NAME, col, v, NEW.rowid);
        ELSE
          bad := false;
        END IF;
        IF bad THEN
          RAISE EXCEPTION USING ERRCODE = 'check_violation', MESSAGE = format(
            'record %s of %s refused: constraint %s (%s) of field %s does not allow %L',
            NEW.rowid, tb, r.num, r.kind, r.field, coalesce(v, ''));
        END IF;
      END LOOP;
    END IF;
    FOR r IN EXECUTE format('SELECT name, kind, ffield, ttbl, tfield FROM %I.zdb_xrefs'
        ' WHERE ftbl = $1 ORDER BY name', s) USING tb LOOP
      col := lower(r.ffield);
      IF TG_OP = 'UPDATE' AND (j -> col) IS NOT DISTINCT FROM (o -> col) THEN CONTINUE; END IF;
      v := j ->> col;
      IF coalesce(v, '') = '' THEN CONTINUE; END IF;
      IF r.kind = 'T' OR coalesce(r.tfield, '') = '' THEN
        hit := v ~ '^[-+]?[0-9]+$' AND zdb_system.zdb_holds(s, lower(r.ttbl), 'rowid', v, -1);
      ELSE
        hit := zdb_system.zdb_holds(s, lower(r.ttbl), lower(r.tfield), v, -1);
      END IF;
      IF NOT hit THEN
        RAISE EXCEPTION USING ERRCODE = 'foreign_key_violation', MESSAGE = format(
          'record %s of %s refused: no record of %s for %L (cross reference %s)',
          NEW.rowid, tb, r.ttbl, v, r.name);
      END IF;
    END LOOP;
  END IF;

  IF TG_OP IN ('UPDATE', 'DELETE') THEN
    o := to_jsonb(OLD);
    IF TG_OP = 'UPDATE' THEN j := to_jsonb(NEW); END IF;
    FOR r IN EXECUTE format('SELECT name, kind, ftbl, ffield, tfield, rule FROM %I.zdb_xrefs'
        ' WHERE ttbl = $1 ORDER BY name', s) USING tb LOOP
      IF r.kind = 'T' OR coalesce(r.tfield, '') = '' THEN
        IF TG_OP = 'UPDATE' THEN CONTINUE; END IF;
        k := OLD.rowid::text;
      ELSE
        col := lower(r.tfield);
        IF TG_OP = 'UPDATE' AND (j -> col) IS NOT DISTINCT FROM (o -> col) THEN CONTINUE; END IF;
        k := o ->> col;
      END IF;
      IF NOT zdb_system.zdb_holds(s, lower(r.ftbl), lower(r.ffield), k, -1) THEN CONTINUE; END IF;
      IF TG_OP = 'DELETE' AND r.rule IN ('CASCADE', 'NULLIFY') AND pg_trigger_depth() <= 16 THEN
        SELECT format_type(a.atttypid, NULL) INTO it FROM pg_attribute a
         WHERE a.attrelid = format('%I.%I', s, lower(r.ftbl))::regclass
           AND a.attname = lower(r.ffield);
        IF r.rule = 'CASCADE' THEN
          EXECUTE format('DELETE FROM %I.%I WHERE %I = CAST($1 AS %s)',
                         s, lower(r.ftbl), lower(r.ffield), it) USING k;
        ELSE
          EXECUTE format('UPDATE %I.%I SET %I = NULL WHERE %I = CAST($1 AS %s)',
                         s, lower(r.ftbl), lower(r.ffield), lower(r.ffield), it) USING k;
        END IF;
      ELSE
        RAISE EXCEPTION USING ERRCODE = 'foreign_key_violation', MESSAGE = format(
          'record %s of %s refused: records of %s still point at it (cross reference %s)',
          OLD.rowid, tb, r.ftbl, r.name);
      END IF;
    END LOOP;
  END IF;
  RETURN NULL;
END$f$;

-- Gives the data tables of schema s that have rules the three triggers, and takes them from
-- those that have none left. Tables the catalog does not know (yet, or any more) are left alone.
CREATE OR REPLACE FUNCTION zdb_system.zdb_attach_rules(s text) RETURNS void LANGUAGE plpgsql
SET search_path = pg_catalog AS $f$
DECLARE r record;
BEGIN
  FOR r IN EXECUTE format(
      'SELECT c.relname, EXISTS(SELECT 1 FROM %1$I.zdb_constraints x WHERE x.tbl = t.name)'
      '  OR EXISTS(SELECT 1 FROM %1$I.zdb_defaults x WHERE x.tbl = t.name)'
      '  OR EXISTS(SELECT 1 FROM %1$I.zdb_xrefs x WHERE x.ftbl = t.name OR x.ttbl = t.name)'
      '  AS wants, EXISTS(SELECT 1 FROM pg_trigger g WHERE g.tgrelid = c.oid'
      '  AND g.tgname = ''zdb_rules'') AS has'
      ' FROM %1$I.zdb_tables t JOIN pg_class c ON c.relname = lower(t.name)'
      ' AND c.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = %2$L)', s, s) LOOP
    BEGIN
      IF r.wants AND NOT r.has THEN
        EXECUTE format('CREATE TRIGGER zdb_rules_new BEFORE INSERT ON %I.%I FOR EACH ROW'
                       ' EXECUTE FUNCTION zdb_system.zdb_rules()', s, r.relname);
        EXECUTE format('CREATE TRIGGER zdb_rules AFTER INSERT OR UPDATE OR DELETE ON %I.%I'
                       ' FOR EACH ROW EXECUTE FUNCTION zdb_system.zdb_rules()', s, r.relname);
        EXECUTE format('CREATE TRIGGER zdb_rules_clear BEFORE TRUNCATE ON %I.%I'
                       ' FOR EACH STATEMENT EXECUTE FUNCTION zdb_system.zdb_rules()',
                       s, r.relname);
      ELSIF r.has AND NOT r.wants THEN
        EXECUTE format('DROP TRIGGER IF EXISTS zdb_rules_new ON %I.%I;'
                       ' DROP TRIGGER IF EXISTS zdb_rules ON %I.%I;'
                       ' DROP TRIGGER IF EXISTS zdb_rules_clear ON %I.%I',
                       s, r.relname, s, r.relname, s, r.relname);
      END IF;
    EXCEPTION WHEN duplicate_object THEN NULL;  -- another zdbd attached them meanwhile
    END;
  END LOOP;
END$f$;

CREATE OR REPLACE FUNCTION zdb_system.zdb_sync_rules() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
  PERFORM zdb_system.zdb_attach_rules(TG_TABLE_SCHEMA);
  RETURN NULL;
END$f$;
)sql";

// Per schema: the whole-number domain, the catalog's triggers, the upgrade of smallint columns
// an earlier zdbd made, and the data tables' triggers.
constexpr const char* kSchema = R"sql(
DO $do$
DECLARE r record; sch text := current_schema();
BEGIN
  PERFORM set_config('lock_timeout', '10s', true);
  PERFORM pg_advisory_xact_lock(hashtext('zdbd schema ' || sch));
  IF to_regtype(quote_ident(sch) || '.zdb_int') IS NULL THEN
    EXECUTE format('CREATE DOMAIN %I.zdb_int AS numeric'
                   ' CONSTRAINT zdb_int_whole_number CHECK (VALUE = trunc(VALUE))'
                   ' CONSTRAINT zdb_int_range CHECK (VALUE BETWEEN -32768 AND 32767)', sch);
  END IF;
  FOR r IN SELECT c.relname, a.attname FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid
      WHERE c.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = sch)
        AND c.relkind = 'r' AND a.atttypid = 'int2'::regtype AND a.attnum > 0
        AND NOT a.attisdropped AND c.relname NOT LIKE 'zdb\_%' LOOP
    EXECUTE format('ALTER TABLE %I.%I ALTER COLUMN %I TYPE %I.zdb_int',
                   sch, r.relname, r.attname, sch);
  END LOOP;
  -- Numeric texts written by an earlier zdbd's schema had their width checked only; rows there
  -- already are left as they are (NOT VALID), new writes are checked.
  FOR r IN EXECUTE format('SELECT lower(tbl) AS t, lower(name) AS c, width FROM %I.zdb_fields'
      ' WHERE type = ''C'' AND subtype = ''N''', sch) LOOP
    IF to_regclass(format('%I.%I', sch, r.t)) IS NOT NULL AND NOT EXISTS (
        SELECT 1 FROM pg_constraint WHERE conrelid = format('%I.%I', sch, r.t)::regclass
        AND conname = r.t || '_' || r.c || '_check' AND pg_get_constraintdef(oid) LIKE '%~%') THEN
      EXECUTE format('ALTER TABLE %I.%I DROP CONSTRAINT IF EXISTS %I, ADD CONSTRAINT %I'
                     ' CHECK (char_length(%I) <= %s AND (%I = '''' OR %I ~ %L)) NOT VALID',
                     sch, r.t, r.t || '_' || r.c || '_check', r.t || '_' || r.c || '_check',
                     r.c, r.width, r.c, r.c, '@NUMBER@');
    END IF;
  END LOOP;
  FOR r IN SELECT unnest(ARRAY['zdb_tables', 'zdb_constraints', 'zdb_defaults', 'zdb_xrefs'])
      AS t LOOP
    IF NOT EXISTS (SELECT 1 FROM pg_trigger WHERE tgname = 'zdb_rules_sync'
        AND tgrelid = format('%I.%I', sch, r.t)::regclass) THEN
      EXECUTE format('CREATE TRIGGER zdb_rules_sync AFTER INSERT OR UPDATE OR DELETE ON %I.%I'
                     ' FOR EACH STATEMENT EXECUTE FUNCTION zdb_system.zdb_sync_rules()',
                     sch, r.t);
    END IF;
  END LOOP;
  PERFORM zdb_system.zdb_attach_rules(sch);
END$do$
)sql";

}  // namespace

bool EnsurePgRules(Db& db) {
  if (!db.Postgres()) return true;
  const std::string functions =
      std::string(
          "DO $do$BEGIN"
          " PERFORM set_config('lock_timeout', '10s', true);"
          " PERFORM pg_advisory_xact_lock(hashtext('zdbd rule functions'));"
          " CREATE SCHEMA IF NOT EXISTS zdb_system;"
          " IF obj_description(to_regprocedure('zdb_system.zdb_rules()'), 'pg_proc')"
          "  IS DISTINCT FROM '") +
      kVersion + "' THEN EXECUTE $fn$" + kFunctions +
      "$fn$; COMMENT ON FUNCTION zdb_system.zdb_rules() IS '" + kVersion + "'; END IF; END$do$";
  std::string schema = kSchema;
  schema.replace(schema.find("@NUMBER@"), 8, kPgNumberPattern);
  return db.ExecNative(functions) && db.ExecNative(schema);
}

}  // namespace zdbd
