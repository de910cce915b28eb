-- Job database of the Velkor screw-driving console (KV.GDB).
-- Firebird 3, dialect 3, default character set WIN1251. Runs under isql-fb as it is, and is
-- what velkor-makedb uses to create a fresh database. Keep this file ASCII: isql reads it in the
-- connection's character set.
SET SQL DIALECT 3;

-- Machine parameters: one row per key, the value as text (reals with a full stop).
CREATE TABLE VARIABLES (
  KODS    VARCHAR(40) NOT NULL,
  VAR_STR VARCHAR(255)
);

-- Articles; the import puts every piece on a bar of the article VIRT.
CREATE TABLE GOODS (
  GOODSID INTEGER NOT NULL PRIMARY KEY,
  KOD     VARCHAR(20) NOT NULL,
  NAME    VARCHAR(60)
);

-- Hole types, found by the code that job files use.
CREATE TABLE HOLETYPE (
  HOLETYPEID INTEGER NOT NULL PRIMARY KEY,
  CODE       VARCHAR(20) NOT NULL,
  NAME       VARCHAR(60)
);

-- Batches of a job file.
CREATE TABLE GRORDERS (
  GRORDERSID  INTEGER NOT NULL PRIMARY KEY,
  NAME        VARCHAR(20),
  DATECREATED TIMESTAMP
);

-- One bar per batch, to which the batch's pieces belong.
CREATE TABLE OPTIMIZED (
  OPTIMIZEDID INTEGER NOT NULL PRIMARY KEY,
  GRORDERSID  INTEGER REFERENCES GRORDERS (GRORDERSID),
  QTY         INTEGER,
  GOODSID     INTEGER REFERENCES GOODS (GOODSID),
  LONGPROF    NUMERIC(6,1),
  OSTAT       NUMERIC(6,1),
  COLORIN     INTEGER,
  COLORUOT    INTEGER
);

-- Cut pieces; OPTDETAILID_IN is the number that the piece's barcode carries.
CREATE TABLE OPTDETAIL (
  OPTDETAILID    INTEGER NOT NULL PRIMARY KEY,
  OPTIMIZEDID    INTEGER REFERENCES OPTIMIZED (OPTIMIZEDID),
  ITEMLONG       NUMERIC(5,1),
  UG1            NUMERIC(4,1),
  UG2            NUMERIC(4,1),
  NUM            INTEGER,
  TELEGANO       INTEGER,
  CELL           INTEGER,
  OPTDETAILID_IN BIGINT,
  RCOMMENT       VARCHAR(32)
);

-- Holes (screw positions) of a piece, POSX in millimetres along it.
CREATE TABLE PERFORATION (
  PERFORATIONID INTEGER NOT NULL PRIMARY KEY,
  OPTDETAILID   INTEGER REFERENCES OPTDETAIL (OPTDETAILID),
  HOLETYPEID    INTEGER REFERENCES HOLETYPE (HOLETYPEID),
  POSX          DOUBLE PRECISION,
  SHIFTX        DOUBLE PRECISION,
  SIDE          INTEGER
);

-- Job files loaded, by their content, so that the same content is never loaded twice whatever
-- its name (the console makes this table in an older database that has none).
CREATE TABLE JOBFILES (
  CONTENTHASH CHAR(64) NOT NULL PRIMARY KEY,
  FILENAME    VARCHAR(255),
  LOADED      TIMESTAMP NOT NULL,
  PIECES      INTEGER
);

-- Every dispatch of positions to the controller, one row each, written whole by the
-- workstation that sent it (the console makes this table in an older database that has none).
-- RECORDKEY is the workstation's own key of the dispatch; DISPATCHED is when it began, on the
-- database server's clock; OUTCOME is SENT, STOPPED (at field STOPPEDAT), FAILED (nothing
-- sent), DROPPED (never began) or CUT (the console ended during it).
CREATE TABLE PRODUCTION (
  RECORDKEY   CHAR(32) NOT NULL PRIMARY KEY,
  DISPATCHED  TIMESTAMP NOT NULL,
  WORKSTATION VARCHAR(64) NOT NULL,
  ACCOUNT     VARCHAR(64) NOT NULL,
  SCAN        VARCHAR(40),
  BARCODE     BIGINT,
  OPTDETAILID INTEGER,
  GRORDERSID  INTEGER,
  BATCH       VARCHAR(20),
  PROFILEMODE SMALLINT NOT NULL,
  COMMANDS    VARCHAR(160),
  OUTCOME     VARCHAR(8) NOT NULL,
  STOPPEDAT   SMALLINT,
  MESSAGE     VARCHAR(255),
  COUNTER     BIGINT
);
CREATE INDEX PRODUCTION_DISPATCHED ON PRODUCTION (DISPATCHED);
CREATE INDEX PRODUCTION_BARCODE ON PRODUCTION (BARCODE);
CREATE INDEX PRODUCTION_BATCH ON PRODUCTION (GRORDERSID);
CREATE INDEX PRODUCTION_WORKSTATION ON PRODUCTION (WORKSTATION);

-- The history of the machine's settings: one row for each change made through a console (a
-- setting applied, a settings push, SaveFlash, a profile mode toggle), each opening of the
-- settings window and each refused password, and each job file loaded. Rows are only ever
-- added: the trigger below refuses to change or delete one, so that the history stands as
-- evidence. CHANGED is the database server's time; KIND is SETTING, PUSH, SAVEFLASH, MODE,
-- OPENED, PASSWORD or JOBFILE; SUBJECT is the VARIABLES key of a setting or the job file's name;
-- BEFORE and AFTER are the values as stored (the mode, 0 white or 1 laminated, for MODE); SENT
-- the commands the controller got (for PUSH and MODE: those it acknowledged).
CREATE TABLE SETTINGSHISTORY (
  RECORDKEY   CHAR(32) NOT NULL PRIMARY KEY,
  CHANGED     TIMESTAMP NOT NULL,
  WORKSTATION VARCHAR(64) NOT NULL,
  ACCOUNT     VARCHAR(32) NOT NULL,
  KIND        VARCHAR(10) NOT NULL,
  SUBJECT     VARCHAR(255),
  BEFORE      VARCHAR(255),
  AFTER       VARCHAR(255),
  SENT        VARCHAR(400),
  OUTCOME     VARCHAR(10) NOT NULL,
  MESSAGE     VARCHAR(255),
  CONTENTHASH CHAR(64),
  PIECES      INTEGER,
  SUPERSEDED  INTEGER
);
CREATE INDEX SETTINGSHISTORY_CHANGED ON SETTINGSHISTORY (CHANGED);
CREATE INDEX SETTINGSHISTORY_SUBJECT ON SETTINGSHISTORY (SUBJECT);
CREATE EXCEPTION SETTINGSHISTORY_KEPT
  'SETTINGSHISTORY is evidence: its rows are never changed or deleted';

SET TERM ^ ;

CREATE TRIGGER SETTINGSHISTORY_BUD FOR SETTINGSHISTORY ACTIVE BEFORE UPDATE OR DELETE
POSITION 0 AS
BEGIN
  EXCEPTION SETTINGSHISTORY_KEPT;
END^

SET TERM ; ^

-- The barcode lookup: without this index every scan reads OPTDETAIL in full. The foreign key
-- above already indexes PERFORATION.OPTDETAILID, the other half of the lookup.
CREATE INDEX OPTDETAIL_BARCODE ON OPTDETAIL (OPTDETAILID_IN);

-- Keys come from generators. The console reads gen_id(generator, 0) right after inserting a
-- parent row and takes it as that row's key, so every insert must advance its generator by one
-- and take the new value as its key, whatever key the insert names.
CREATE GENERATOR GEN_GRORDERS_ID;
CREATE GENERATOR GEN_OPTIMIZED_ID;
CREATE GENERATOR GEN_OPTDETAIL_ID;
CREATE GENERATOR GEN_PERFORATION_ID;

SET TERM ^ ;

CREATE TRIGGER GRORDERS_BI FOR GRORDERS ACTIVE BEFORE INSERT POSITION 0 AS
BEGIN
  NEW.GRORDERSID = GEN_ID(GEN_GRORDERS_ID, 1);
END^

CREATE TRIGGER OPTIMIZED_BI FOR OPTIMIZED ACTIVE BEFORE INSERT POSITION 0 AS
BEGIN
  NEW.OPTIMIZEDID = GEN_ID(GEN_OPTIMIZED_ID, 1);
END^

CREATE TRIGGER OPTDETAIL_BI FOR OPTDETAIL ACTIVE BEFORE INSERT POSITION 0 AS
BEGIN
  NEW.OPTDETAILID = GEN_ID(GEN_OPTDETAIL_ID, 1);
END^

CREATE TRIGGER PERFORATION_BI FOR PERFORATION ACTIVE BEFORE INSERT POSITION 0 AS
BEGIN
  NEW.PERFORATIONID = GEN_ID(GEN_PERFORATION_ID, 1);
END^

SET TERM ; ^

INSERT INTO GOODS (GOODSID, KOD, NAME) VALUES (1, 'VIRT', 'Virtual bar of imported pieces');

INSERT INTO HOLETYPE (HOLETYPEID, CODE, NAME) VALUES (1, 'SCREW', 'Screw');
INSERT INTO HOLETYPE (HOLETYPEID, CODE, NAME) VALUES (2, 'SCREW2', 'Screw, second head');
INSERT INTO HOLETYPE (HOLETYPEID, CODE, NAME) VALUES (3, 'HANDLE', 'Handle');
INSERT INTO HOLETYPE (HOLETYPEID, CODE, NAME) VALUES (4, 'DRAIN', 'Drain slot');
COMMIT;
