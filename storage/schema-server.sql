-- The laboratory's shared database on a PostgreSQL server. The tables and
-- columns of ORVDB.db3 keep their names and order; what sharing needs comes
-- after them: the station a row belongs to (single-station tables, samples,
-- calibrations) and the run a sample and a calibration belong to. A
-- session sees its own station's single-station rows through views of the
-- same names (see server.cpp).
CREATE SCHEMA IF NOT EXISTS orven;
CREATE TABLE IF NOT EXISTS orven.orven_schema (version INTEGER NOT NULL);
-- Shared by every station: the register of collectors and equipment, the
-- laboratory.
CREATE TABLE IF NOT EXISTS orven.datacollect (num TEXT, name TEXT, type TEXT, portnum TEXT, serialnum TEXT, zqtem TEXT, zqhum TEXT, cltem TEXT, clhum TEXT, zhengshu TEXT, temnosure TEXT, temnosurek TEXT, humnosure TEXT, humnosurek TEXT, todata TEXT);
CREATE TABLE IF NOT EXISTS orven.equipdata (name TEXT, companyname TEXT, address TEXT, type TEXT, model TEXT, equipmodel TEXT, listnum TEXT, temnum TEXT, humnum TEXT, madecompanyname TEXT, madedate TEXT, temdown TEXT, temup TEXT, humdown TEXT, humup TEXT, adjustnum TEXT, tem1 TEXT, tem2 TEXT, tem3 TEXT, tem4 TEXT, tem5 TEXT, tem6 TEXT, tem7 TEXT, tem8 TEXT, tem9 TEXT, tem10 TEXT, hum1 TEXT, hum2 TEXT, hum3 TEXT, hum4 TEXT, hum5 TEXT, hum6 TEXT, hum7 TEXT, hum8 TEXT, hum9 TEXT, hum10 TEXT);
CREATE TABLE IF NOT EXISTS orven.company (unitname TEXT, tel TEXT, fax TEXT, address TEXT, yzbm TEXT, website TEXT, place TEXT, booknum TEXT);
-- One station's state: the selection, the ambient values, the channel tables.
CREATE TABLE IF NOT EXISTS orven.secdevice (datacollect TEXT, equipdata TEXT, secA TEXT, roadA TEXT, roadtypeA TEXT, secB TEXT, roadB TEXT, roadtypeB TEXT, comnum TEXT, station TEXT NOT NULL DEFAULT current_setting('orven.station'));
CREATE TABLE IF NOT EXISTS orven.envirdata (tem TEXT, hum TEXT, station TEXT NOT NULL DEFAULT current_setting('orven.station'));
CREATE TABLE IF NOT EXISTS orven.deviceA (num TEXT, headtype TEXT, chantype TEXT, wiring TEXT, mxm TEXT, mxb TEXT, r0 TEXT, compmode TEXT, cjtemp TEXT, coefa TEXT, coefb TEXT, coefc TEXT, coefa4 TEXT, coefb4 TEXT, station TEXT NOT NULL DEFAULT current_setting('orven.station'));
CREATE TABLE IF NOT EXISTS orven.deviceB (num TEXT, headtype TEXT, chantype TEXT, wiring TEXT, mxm TEXT, mxb TEXT, r0 TEXT, compmode TEXT, cjtemp TEXT, coefa TEXT, coefb TEXT, coefc TEXT, coefa4 TEXT, coefb4 TEXT, station TEXT NOT NULL DEFAULT current_setting('orven.station'));
CREATE TABLE IF NOT EXISTS orven.orven_state (key TEXT NOT NULL, value TEXT, station TEXT NOT NULL DEFAULT current_setting('orven.station'), PRIMARY KEY (station, key));
-- Calibrations and samples of every station, each with its station and run.
CREATE TABLE IF NOT EXISTS orven.datamark (num TEXT, dtbegin TEXT, dtend TEXT, pointnum TEXT, temset TEXT, humset TEXT, kindsA TEXT, kindsB TEXT, collector TEXT, equipname TEXT, channum TEXT, samplenum TEXT, chanlist TEXT, envtem TEXT, envhum TEXT, equiptype TEXT, typesA TEXT, typesB TEXT, station TEXT NOT NULL DEFAULT current_setting('orven.station'), run TEXT NOT NULL DEFAULT current_setting('orven.run', true));
CREATE TABLE IF NOT EXISTS orven.data (equipname TEXT, jdnum TEXT, coltime TEXT, colname TEXT, coldata TEXT, station TEXT NOT NULL DEFAULT current_setting('orven.station'), run TEXT NOT NULL DEFAULT current_setting('orven.run', true), rowid BIGSERIAL PRIMARY KEY, spoolkey TEXT);
CREATE INDEX IF NOT EXISTS data_run ON orven.data(run, coltime);
CREATE INDEX IF NOT EXISTS data_station ON orven.data(station, coltime);
-- A sample sent from a station's spool is stored once, however often sent.
CREATE UNIQUE INDEX IF NOT EXISTS data_spool ON orven.data(station, spoolkey) WHERE spoolkey IS NOT NULL;
CREATE INDEX IF NOT EXISTS datamark_dtbegin ON orven.datamark(dtbegin);
CREATE INDEX IF NOT EXISTS datamark_station ON orven.datamark(station, dtbegin);
-- Beside them, shared: evaluation settings, the records kept at
-- processing, the certificate register.
-- The laboratory's own settings (the certificate number's pattern).
CREATE TABLE IF NOT EXISTS orven.lab_state (key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE IF NOT EXISTS orven.evaluation (dtbegin TEXT PRIMARY KEY, settings TEXT);
CREATE TABLE IF NOT EXISTS orven.snapshot (dtbegin TEXT PRIMARY KEY, taken TEXT, records TEXT);
CREATE TABLE IF NOT EXISTS orven.certificate (number TEXT PRIMARY KEY, dtbegin TEXT UNIQUE, year INTEGER, seq INTEGER, issued TEXT, method TEXT, layout TEXT, prints INTEGER, lastprint TEXT, files TEXT);
-- Version 2: amendments (several numbers per calibration, one in force) and
-- the documents as issued.
ALTER TABLE orven.certificate DROP CONSTRAINT IF EXISTS certificate_dtbegin_key;
ALTER TABLE orven.certificate ADD COLUMN IF NOT EXISTS replaces TEXT;
ALTER TABLE orven.certificate ADD COLUMN IF NOT EXISTS replacedby TEXT;
ALTER TABLE orven.certificate ADD COLUMN IF NOT EXISTS fingerprint TEXT;
ALTER TABLE orven.certificate ADD COLUMN IF NOT EXISTS content TEXT;
CREATE TABLE IF NOT EXISTS orven.certificate_file (id TEXT PRIMARY KEY, number TEXT, name TEXT, sha256 TEXT, content TEXT);
CREATE TABLE IF NOT EXISTS orven.collector_extra (serialnum TEXT PRIMARY KEY, data TEXT);
CREATE TABLE IF NOT EXISTS orven.equipment_extra (name TEXT PRIMARY KEY, data TEXT);
-- Version 3: the audit trail (one chain for the laboratory).
CREATE TABLE IF NOT EXISTS orven.audit (seq BIGINT PRIMARY KEY, at TEXT, station TEXT, operator TEXT, action TEXT, object TEXT, before TEXT, after TEXT, prev TEXT, hash TEXT);
-- Version 4: operator accounts, shared by every station.
CREATE TABLE IF NOT EXISTS orven.operator_account (name TEXT PRIMARY KEY, roles TEXT, hash TEXT);
-- Version 5: the trail only grows, and each row keeps a digest of each
-- audited table as its change left it.
ALTER TABLE orven.audit ADD COLUMN IF NOT EXISTS digests TEXT;
CREATE OR REPLACE FUNCTION orven.audit_only_grows() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '审计记录只能追加，不能修改或删除'; END $$;
DROP TRIGGER IF EXISTS audit_only_grows ON orven.audit;
CREATE TRIGGER audit_only_grows BEFORE UPDATE OR DELETE ON orven.audit FOR EACH ROW EXECUTE FUNCTION orven.audit_only_grows();
DROP TRIGGER IF EXISTS audit_never_emptied ON orven.audit;
CREATE TRIGGER audit_never_emptied BEFORE TRUNCATE ON orven.audit FOR EACH STATEMENT EXECUTE FUNCTION orven.audit_only_grows();
REVOKE UPDATE, DELETE, TRUNCATE ON orven.audit FROM PUBLIC;
