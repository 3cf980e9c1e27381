-- A small user dictionary for the tests, loaded with the sqlite3 tool:
-- the schema of a user dictionary, then entries whose keys need quoting or
-- LIKE escapes, Japanese keys for suffix searches (one of them stored with
-- its bytes reversed, as older files have it), links and an extra row.
create table book (	id	INTEGER	primary key autoincrement,	idkey	VARCHAR(32),	no	VARCHAR(255),	headword	VARCHAR(255),	meaning	TEXT,	phonetic	VARCHAR(255),	keyword	 VARCHAR(255) COLLATE NOCASE,	kana	 VARCHAR(255) COLLATE NOCASE,	level	INTEGER);
create index book_keyword_idkey on book(idkey);
create index book_keyword_idx on book(keyword COLLATE NOCASE);
create index book_kana_idx on book(kana COLLATE NOCASE);
create table altinfo (	id		INTEGER,	attribute	INTEGER,	no		VARCHAR(255),	body		TEXT);
create table altindex (	id		INTEGER,	attribute	INTEGER,	tag		VARCHAR(255) COLLATE NOCASE,	keyword		VARCHAR(255) COLLATE NOCASE);
create index altindex_keyword_idx on altindex(keyword COLLATE NOCASE,attribute);
create table link (	id		INTEGER,	attribute	INTEGER,	relid		INTEGER,	seq		INTEGER,	comment		VARCHAR(255));
create table bookinfo (	isbn		CHAR(13),	ccode		CHAR(4),	booktitle	VARCHAR(255),	booksubtitle	VARCHAR(255),	edition		VARCHAR(255),	seriestitle	VARCHAR(255),	bookauthor	VARCHAR(255),	pubdate	CHAR(8),	publisher	VARCHAR(255),	bookcode	VARCHAR(255),	filename	VARCHAR(255),	compression	INTEGER,	crypt		INTEGER,	bookno		INTEGER,	indexmask	INTEGER,	contenttype	INTEGER);
insert into book(id,idkey,no,headword,meaning,phonetic,keyword,kana,level) values
  (1,'clock','1','clock','a device that tells time','klok','clock','',1),
  (2,'oclock','2','o''clock','of the clock','','o''clock','',0),
  (3,'pct','3','100%','all of it','','100%','',0),
  (4,'k1000','4','1000','a thousand','','1000','',0),
  (5,'ab','5','a_b','a then b','','a_b','',0),
  (6,'axb','6','axb','a x b','','axb','',0),
  (7,'inj','7','x'' or ''1''=''1','not a condition','','x'' or ''1''=''1','',0),
  (8,'row(','8','row paren','an idkey that looks like a link','','row paren','',0),
  (9,'tokyo','9','東京駅','Tokyo station','','東京駅','とうきょうえき',2),
  (10,'osaka','10','大阪駅','Osaka station','','大阪駅','おおさかえき',0),
  (11,'running','11','running','moving fast','','running','',0),
  (42,'answer','42','forty-two','the answer','','forty-two','',3);
-- Whole keys (attribute 1) of every entry.
insert into altindex(id,attribute,tag,keyword) select id,1,'',keyword from book;
-- Reversed keys (attribute 4): by character, and 大阪駅 by bytes.
insert into altindex(id,attribute,tag,keyword) values
  (2,4,'','kcolc''o'),
  (9,4,'','駅京東'),
  (10,4,'',CAST(X'85a7e9aa98e9a7a4e5' AS TEXT)),
  (11,4,'','gninnur');
-- Single words (attribute 16).
insert into altindex(id,attribute,tag,keyword) values (42,16,'','forty'),(42,16,'','two');
insert into link(id,attribute,relid,seq,comment) values
  (1,128,42,1,'see the answer'),
  (1,0,2,2,'plain link'),
  (2,128,1,1,'back to clock');
insert into altinfo(id,attribute,no,body) values (1,1,'1','extra body');
insert into bookinfo values ('','','Fixture Dictionary','','','','','','','','',0,0,12345,0,0);
