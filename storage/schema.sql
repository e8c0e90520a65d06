-- Tables of ORVDB.db3. Column order is part of the file format: inserts list
-- every column positionally and "select *" readers take values by position.
CREATE TABLE IF NOT EXISTS datacollect (num TEXT, name TEXT, type TEXT, portnum TEXT, serialnum TEXT, zqtem TEXT, zqhum TEXT, cltem TEXT, clhum TEXT, zhengshu TEXT, temnosure TEXT, temnosurek TEXT, humnosure TEXT, humnosurek TEXT, todata TEXT);
CREATE TABLE IF NOT EXISTS equipdata (name TEXT, companyname TEXT, address TEXT, type TEXT, model TEXT, equipmodel TEXT, listnum TEXT, temnum TEXT, humnum TEXT, madecompanyname TEXT, madedate TEXT, temdown TEXT, temup TEXT, humdown TEXT, humup TEXT, adjustnum TEXT, tem1 TEXT, tem2 TEXT, tem3 TEXT, tem4 TEXT, tem5 TEXT, tem6 TEXT, tem7 TEXT, tem8 TEXT, tem9 TEXT, tem10 TEXT, hum1 TEXT, hum2 TEXT, hum3 TEXT, hum4 TEXT, hum5 TEXT, hum6 TEXT, hum7 TEXT, hum8 TEXT, hum9 TEXT, hum10 TEXT);
CREATE TABLE IF NOT EXISTS secdevice (datacollect TEXT, equipdata TEXT, secA TEXT, roadA TEXT, roadtypeA TEXT, secB TEXT, roadB TEXT, roadtypeB TEXT, comnum TEXT);
CREATE TABLE IF NOT EXISTS envirdata (tem TEXT, hum TEXT);
CREATE TABLE IF NOT EXISTS deviceA (num TEXT, headtype TEXT, chantype TEXT, wiring TEXT, mxm TEXT, mxb TEXT, r0 TEXT, compmode TEXT, cjtemp TEXT, coefa TEXT, coefb TEXT, coefc TEXT, coefa4 TEXT, coefb4 TEXT);
CREATE TABLE IF NOT EXISTS deviceB (num TEXT, headtype TEXT, chantype TEXT, wiring TEXT, mxm TEXT, mxb TEXT, r0 TEXT, compmode TEXT, cjtemp TEXT, coefa TEXT, coefb TEXT, coefc TEXT, coefa4 TEXT, coefb4 TEXT);
CREATE TABLE IF NOT EXISTS company (unitname TEXT, tel TEXT, fax TEXT, address TEXT, yzbm TEXT, website TEXT, place TEXT, booknum TEXT);
CREATE TABLE IF NOT EXISTS datamark (num TEXT, dtbegin TEXT, dtend TEXT, pointnum TEXT, temset TEXT, humset TEXT, kindsA TEXT, kindsB TEXT, collector TEXT, equipname TEXT, channum TEXT, samplenum TEXT, chanlist TEXT, envtem TEXT, envhum TEXT, equiptype TEXT, typesA TEXT, typesB TEXT);
CREATE TABLE IF NOT EXISTS data (equipname TEXT, jdnum TEXT, coltime TEXT, colname TEXT, coldata TEXT);
-- Indexes only speed up the time-window reads; they do not change the format.
CREATE INDEX IF NOT EXISTS data_coltime ON data(coltime);
CREATE INDEX IF NOT EXISTS datamark_dtbegin ON datamark(dtbegin);
-- Beside the nine tables: the workstation's own small state (a run set
-- aside at start-up, ...), one value per key.
CREATE TABLE IF NOT EXISTS orven_state (key TEXT PRIMARY KEY, value TEXT);
-- How each processed calibration is evaluated (method, centre channels,
-- window, indicated values, the operator's inputs), as JSON, keyed by the
-- calibration's dtbegin; deleted with the calibration.
CREATE TABLE IF NOT EXISTS evaluation (dtbegin TEXT PRIMARY KEY, settings TEXT);
-- The records a calibration's documents are written from, as they were
-- when it was processed (JSON), keyed by its dtbegin; deleted with it.
CREATE TABLE IF NOT EXISTS snapshot (dtbegin TEXT PRIMARY KEY, taken TEXT, records TEXT);
-- The certificate register: a number is never given twice; a calibration
-- has one certificate in force, and those it replaced (replacedby set).
CREATE TABLE IF NOT EXISTS certificate (number TEXT PRIMARY KEY, dtbegin TEXT,
  year INTEGER, seq INTEGER, issued TEXT, method TEXT, layout TEXT, prints INTEGER,
  lastprint TEXT, files TEXT, replaces TEXT, replacedby TEXT, fingerprint TEXT, content TEXT);
-- The documents as issued (base64), one row per file of a certificate.
CREATE TABLE IF NOT EXISTS certificate_file (id TEXT PRIMARY KEY, number TEXT, name TEXT,
  sha256 TEXT, content TEXT);
-- Beside the collector and equipment records: what the evaluation needs and
-- their rows have no column for (JSON): the standard's stability, the
-- chamber's set-value resolution.
CREATE TABLE IF NOT EXISTS collector_extra (serialnum TEXT PRIMARY KEY, data TEXT);
CREATE TABLE IF NOT EXISTS equipment_extra (name TEXT PRIMARY KEY, data TEXT);
-- The audit trail: one row per change, each with the SHA-256 of its content
-- and of the row before it; the program only ever appends. `digests` holds
-- a digest of each audited table as the change left it.
CREATE TABLE IF NOT EXISTS audit (seq INTEGER PRIMARY KEY, at TEXT, station TEXT, operator TEXT, action TEXT, object TEXT, before TEXT, after TEXT, prev TEXT, hash TEXT, digests TEXT);
-- Operator accounts: name, roles ("校准员;核验员"), the password's salted hash.
CREATE TABLE IF NOT EXISTS operator_account (name TEXT PRIMARY KEY, roles TEXT, hash TEXT);
