/**
 * @file zdb_api_catalog.h
 * @brief The catalog requests (Z_ functions), SQL scripts, export and import: part of
 * zdb_api.h, which includes it; do not include it on its own.
 *
 * Requests that only change the catalog answer with a status and change no caller memory.
 * Requests that answer with data send every text, counter and buffer argument with its current
 * content and overwrite it with the server's bytes: those arguments are not `const`, must be
 * writable and at least as large as stated, and a result buffer is sent with whatever it held.
 * Counts passed by value (`count`) are sent but never changed. Every request logs in
 * implicitly (see zdb_api.h) and returns 2001 without a session or on a transport failure.
 * Where a text is "sent as it is", the library does not read it and zdbd does not either;
 * another server may. zdbd gives every request declared here a meaning; the statuses it answers
 * are listed in docs/server.md.
 */
#ifndef ZDB_API_H
#error "include zdb_api.h, not zdb_api_catalog.h"
#endif
#ifndef ZDB_API_CATALOG_H
#define ZDB_API_CATALOG_H

/* ==== Databases ============================================================================= */

/**
 * Creates a database (administrators only).
 * @param database its name: 1 to 8 characters, a letter then letters, digits or "_"
 * @param description its description
 * @param location sent as it is
 * @param flags its low 16 bits are sent; zdbd does not read them
 * @param options sent as it is
 * @return #ZDB_OK, 2001; server: 4012 exists, 4013 bad name, 4005
 */
int32_t ZDB_CALL Z_NewDB(const char* database, const char* description, const char* location,
                         int32_t flags, const char* options);
/**
 * Deletes the selected database (administrators only).
 * @return #ZDB_OK, 2001; server: 4014 another session uses it, 4010, 4005
 */
int32_t ZDB_CALL Z_DelDB(void);
/**
 * Counts databases.
 * @param databases sent and overwritten: the number of databases
 * @param inUse sent and overwritten: how many this session has in use
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_NumDB(int32_t* databases, int32_t* inUse);
/**
 * Lists database names, converted from the server character set.
 * @param count entries of @p names
 * @param names sent and overwritten: @p count x #ZDB_DATABASE_NAME_SIZE (9) bytes, names in
 *              name order
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_DataBase(int32_t count, char* names); /* count x 9 bytes */
/**
 * Reads the selected database's record (docs/records.md; ZDB_DBREC_ offsets); its two texts
 * are converted from the server character set.
 * @param record sent and overwritten: #ZDB_DATABASE_RECORD_SIZE (773) bytes
 * @return #ZDB_OK, 2001; server: 4010
 */
int32_t ZDB_CALL Z_GetDataBase(void* record); /* 773 bytes */

/* ==== Tables ================================================================================ */

/**
 * Creates a table in the selected database.
 * @param table its name; "" takes the record's name
 * @param fieldSpec the fields: "NAME TYPE [SUBTYPE] [WIDTH]" items separated by ";", e.g.
 *                  "NAME C 20; PRICE N; BORN C D"; "" creates a table without fields
 * @param description its description; "" takes the record's
 * @param tableRecord #ZDB_TABLE_RECORD_SIZE (113) bytes (docs/records.md), sent only
 * @return #ZDB_OK, 2001; server: 4022 exists, 4023 bad name, 4032 bad field, 4010, 4005
 */
int32_t ZDB_CALL Z_CreTable(const char* table, const char* fieldSpec, const char* description,
                            void* tableRecord);
/**
 * Lists the selected database's table names, converted from the server character set.
 * @param count entries of @p names
 * @param names sent and overwritten: @p count x #ZDB_TABLE_NAME_SIZE (33) bytes
 * @return #ZDB_OK, 2001; server: 4010
 */
int32_t ZDB_CALL Z_DbTables(int32_t count, char* names); /* count x 33 bytes */
/**
 * Drops a table with its privileges.
 * @param table the table; "" for the selected one
 * @param flags sent; zdbd does not read it
 * @return #ZDB_OK, 2001; server: 4021, 4005
 */
int32_t ZDB_CALL Z_DelTable(const char* table, int32_t flags);
/**
 * Reads the selected database's file path on the server.
 * @param path sent and overwritten: 256 bytes
 * @return #ZDB_OK, 2001; server: 4010
 */
int32_t ZDB_CALL Z_GetPhysName(char* path); /* 256 bytes */
/**
 * Reads the version of the field-spec text ("NAME TYPE [SUBTYPE] WIDTH" items separated by
 * "; ") that Z_CreTable(), Z_Structure() and Z_FsfToZdb() speak.
 * @param version sent and overwritten: 2 bytes, a 16-bit number (zdbd: 1)
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_GetFsf(void* version); /* 2 bytes */
/**
 * Reads the selected table's record (docs/records.md; ZDB_TREC_ offsets).
 * @param tableRecord sent and overwritten: #ZDB_TABLE_RECORD_SIZE (113) bytes
 * @return #ZDB_OK, 2001; server: 4020
 */
int32_t ZDB_CALL Z_GetTable(void* tableRecord); /* 113 bytes */
/**
 * Counts tables of the selected database.
 * @param tables sent and overwritten: the number of tables
 * @param open sent and overwritten: how many this session has open
 * @return #ZDB_OK, 2001; server: 4010
 */
int32_t ZDB_CALL Z_NumTables(int32_t* tables, int32_t* open);
/**
 * Rebuilds the selected table (zdbd: its indexes).
 * @param first sent; zdbd does not read it
 * @param second sent; zdbd does not read it
 * @return #ZDB_OK, 2001; server: 4020, 4005
 */
int32_t ZDB_CALL Z_RebTable(int32_t first, int32_t second);
/**
 * Changes a table's definition from its record (zdbd: the description of the table the record
 * names; an empty name for the selected one).
 * @param tableRecord #ZDB_TABLE_RECORD_SIZE (113) bytes, sent only
 * @return #ZDB_OK, 2001; server: 4021, 4005
 */
int32_t ZDB_CALL Z_UpdTable(void* tableRecord);
/**
 * Reads a table's number in its database's catalog.
 * @param database sent and overwritten: a database in use by this session; "" for the selected
 *                 one
 * @param table sent and overwritten: the table
 * @param id sent and overwritten: 7 bytes, receives 6 decimal digits and a zero ("000001" for
 *           the database's first table created)
 * @return #ZDB_OK, 2001; server: 4015 database not in use, 4021 unknown table, 4010
 */
int32_t ZDB_CALL Z_GetIDTable(char* database, char* table, void* id); /* 7 bytes */
/**
 * Reads a table's fields as a field spec, "NAME C 20; AGE I 6; BORN C D 10", the form
 * Z_CreTable() reads back; as many whole items as fit in 1499 bytes and a zero.
 * @param table sent and overwritten: a 64-byte buffer holding the table's name, "" for the
 *              selected one (all 64 bytes are sent)
 * @param structure sent and overwritten: 1500 bytes, receives the field spec
 * @param count sent and overwritten: the number of fields written
 * @return #ZDB_OK, 2001; server: 4021 unknown table, 4020
 */
int32_t ZDB_CALL Z_Structure(char* table, void* structure, int32_t* count); /* 64, 1500 bytes */
/**
 * Renames a table (and this session's open and selected entries of it).
 * @param from the table; "" for the selected one
 * @param to its new name
 * @return #ZDB_OK, 2001; server: 4021, 4022, 4023, 4005
 */
int32_t ZDB_CALL Z_Rename(const char* from, const char* to);
/**
 * Lists the selected database's aliases (see ZDB_Alias()) in alias order.
 * @param aliases sent and overwritten: 3300 bytes, up to 50 entries of 66 bytes: the alias (33
 *                bytes, zero-terminated), then the table it names (33 bytes)
 * @param count sent and overwritten: the number of aliases written
 * @return #ZDB_OK, 2001; server: 4010 no database selected
 */
int32_t ZDB_CALL Z_TableAlias(void* aliases, int32_t* count); /* 3300 bytes */

/* ==== Fields ================================================================================ */

/**
 * Adds a field described by a field descriptor (docs/records.md; ZDB_DESC_ offsets).
 * @param table the table; "" for the selected one
 * @param field the field's name; "" takes the descriptor's
 * @param descriptor #ZDB_FIELD_DESCRIPTOR_SIZE (132) bytes, sent only
 * @return #ZDB_OK, 2001; server: 4031 exists, 4032 bad definition, 4005
 */
int32_t ZDB_CALL Z_AddField(const char* table, const char* field, void* descriptor);
/**
 * Drops a field; a table keeps at least one.
 * @param field "TABLE.FIELD", or a field of the selected table
 * @return #ZDB_OK, 2001; server: 4030, 4032 the last field, 4005
 */
int32_t ZDB_CALL Z_DelField(const char* field);
/**
 * Changes a field's name, width, subtype or description within its storage class.
 * @param table the table; "" for the selected one
 * @param field the field's present name
 * @param descriptor #ZDB_FIELD_DESCRIPTOR_SIZE (132) bytes, sent only
 * @return #ZDB_OK, 2001; server: 4030, 4032, 4033 a value stored in the field would not fit
 *         the new definition (longer than the width, no date under subtype D): nothing changes,
 *         4005
 */
int32_t ZDB_CALL Z_UpdField(const char* table, const char* field, void* descriptor);
/**
 * Reads a field's descriptor (the request the library itself sends to size values).
 * @param field field name; writable: the reply returns its copy into it
 * @param description null, or #ZDB_DEFAULT_VALUE_SIZE (513) bytes sent and overwritten with
 *                    the field's description
 * @param descriptor sent and overwritten: #ZDB_FIELD_DESCRIPTOR_SIZE (132) bytes
 * @return #ZDB_OK, 2001; server: 4030, 4020
 */
int32_t ZDB_CALL Z_GetField(char* field, char* description, void* descriptor);
/**
 * Lists the selected table's field names.
 * @param count sent and overwritten: the number of fields
 * @param names sent and overwritten: 9900 bytes, up to 300 names of 33 bytes
 * @return #ZDB_OK, 2001; server: 4020
 */
int32_t ZDB_CALL Z_TableFields(int32_t* count, void* names); /* 9900 bytes */
/**
 * Reads the selected table's field definitions from the server (the cache is not used).
 * @param definitions sent and overwritten: @p length bytes of #ZDB_FIELD_DEF_SIZE-byte
 *                    definitions, as many as fit
 * @param length bytes of @p definitions
 * @return #ZDB_OK, 2001; server: 4020
 */
int32_t ZDB_CALL Z_GFields(void* definitions, int32_t length);
/**
 * Sends changed field definitions (each updates the field of its name or adds it), then
 * loads the current table's cached definitions anew.
 * @param definitions @p length bytes of #ZDB_FIELD_DEF_SIZE-byte definitions, sent only
 * @param length bytes of @p definitions
 * @return #ZDB_OK; 2001 also when the table was not cached although the server took the change;
 *         2021 no database selected in the cache; server: 4032, 4005
 */
int32_t ZDB_CALL Z_PFields(void* definitions, int32_t length);
/**
 * Asks whether a field may be dropped; the answer is the code.
 * @param field field name
 * @return #ZDB_OK yes; server: 4032 the table's last field, 4030 unknown; 2001
 */
int32_t ZDB_CALL Z_CanBeDelete(const char* field);

/* ==== Indexes ================================================================================ */
/* An index text is "TABLE.INDEX" (any table of the selected database) or names an index of the
 * selected table. The 36-byte index record: bytes 0-32 the name, 33 1 for a unique index else
 * 0, 34-35 the number of fields (16-bit). A unique index refuses a duplicate value (4034). */

/**
 * Adds fields to the end of an index's list (fields it has already are skipped); a missing
 * index is created.
 * @param index the index
 * @param fields field names separated by ",", e.g. "NAME,CITY"
 * @param flags 1 makes the index unique, else 0
 * @return #ZDB_OK, 2001; server: 4030 unknown field, 4023 bad index name, 4005
 */
int32_t ZDB_CALL Z_AddIFields(const char* index, const char* fields, int32_t flags);
/**
 * Removes fields from an index's list; removing the last one drops the index.
 * @param index the index
 * @param fields field names separated by ","
 * @return #ZDB_OK, 2001; server: 4026 unknown index, 4030 none of them was in it, 4005
 */
int32_t ZDB_CALL Z_DelIFields(const char* index, const char* fields);
/**
 * Sets an index's list of fields and its uniqueness; a missing index is created.
 * @param index the index
 * @param fields field names separated by ",", in index order
 * @param flags 1 makes the index unique, else 0
 * @return #ZDB_OK, 2001; server: 4030 unknown field, 4023 bad index name, 4005
 */
int32_t ZDB_CALL Z_UpdIFields(const char* index, const char* fields, int32_t flags);
/**
 * Lists an index's fields in index order.
 * @param index sent and overwritten: the index
 * @param count sent and overwritten: the number of fields
 * @param fields sent and overwritten: 3900 bytes, up to 118 names of 33 bytes
 * @return #ZDB_OK, 2001; server: 4026 unknown index
 */
int32_t ZDB_CALL Z_IndexFields(char* index, int32_t* count, void* fields); /* 3900 bytes */
/**
 * Lists the selected table's indexes in creation order.
 * @param count sent and overwritten: the number of indexes
 * @param indexes sent and overwritten: 3600 bytes, up to 100 index records of 36 bytes
 * @return #ZDB_OK, 2001; server: 4020
 */
int32_t ZDB_CALL Z_TableIndex(int32_t* count, void* indexes); /* 3600 bytes */
/**
 * Reads an index's record.
 * @param index sent and overwritten: the index
 * @param indexRecord sent and overwritten: 36 bytes
 * @return #ZDB_OK, 2001; server: 4026 unknown index
 */
int32_t ZDB_CALL Z_GetIndex(char* index, void* indexRecord); /* 36 bytes */

/* ==== Constraints and default values ========================================================= */
/* A field text is "TABLE.FIELD" (any table of the selected database) or names a field of the
 * selected table. A constraint has a number (1 to 65535, unique in its table) and a kind: "M" a
 * value is required, "R" a range from value 1 to value 2 (either may be empty), "L" one of the
 * comma-separated values of value 1, "P" matches the glob pattern of value 1, "U" no two
 * records hold the same value. Every write checks the constraints of its fields and answers 4034
 * when one refuses the value; the record layout is in docs/records.md. */

/**
 * Adds a constraint to a field.
 * @param field the field; "" for the one the record names
 * @param constraint #ZDB_CONSTRAINT_RECORD_SIZE (364) bytes, sent only; number 0 takes the
 *                   table's next free number
 * @return #ZDB_OK, 2001; server: 4032 unknown kind, an empty value where one is needed, bounds
 *         that do not read as the field's type or a number in use; 4030, 4005
 */
int32_t ZDB_CALL Z_AddConstrain(const char* field, void* constraint); /* 364 bytes */
/**
 * Drops a constraint of a field.
 * @param field the field
 * @param number the constraint's number; 0 drops all of the field's constraints
 * @return #ZDB_OK, 2001; server: 4035 no such constraint, 4030, 4005
 */
int32_t ZDB_CALL Z_DelConstrain(const char* field, int32_t number);
/**
 * Replaces the constraint the record's number names (it may move to the named field).
 * @param field the field; "" for the one the record names
 * @param constraint #ZDB_CONSTRAINT_RECORD_SIZE (364) bytes, sent only
 * @return #ZDB_OK, 2001; server: 4035 no such constraint, 4032 as for Z_AddConstrain(), 4030,
 *         4005
 */
int32_t ZDB_CALL Z_UpdConstrain(const char* field, void* constraint);
/**
 * Reads a constraint of a field.
 * @param field sent and overwritten: the field
 * @param number the constraint's number; only its low 16 bits are sent
 * @param constraint sent and overwritten: #ZDB_CONSTRAINT_RECORD_SIZE (364) bytes, receives the
 *                   record (zeros when there is none)
 * @return #ZDB_OK, 2001; server: 4035 the field has no such constraint, 4030
 */
int32_t ZDB_CALL Z_GetConstrain(char* field, int32_t number, void* constraint);
/**
 * Lists the numbers of a field's constraints.
 * @param field sent and overwritten: the field
 * @param count sent and overwritten: the number of constraints the field has
 * @param constraints sent and overwritten: 250 bytes, up to 125 16-bit numbers in order
 * @return #ZDB_OK, 2001; server: 4030
 */
int32_t ZDB_CALL Z_FieldConstrain(char* field, int32_t* count, void* constraints); /* 250 */
/**
 * Sets a field's default value, which ZDB_AppendBlank(), ZDB_PutWrite() (for the fields it does
 * not list) and records inserted by scripts receive.
 * @param field the field
 * @param value the default value as text; it must read as the field's type
 * @return #ZDB_OK, 2001; server: 4033 the value does not fit the field, 4030, 4005
 */
int32_t ZDB_CALL Z_PutDefaultValue(const char* field, const char* value);
/**
 * Reads a field's default value.
 * @param field sent and overwritten: the field
 * @param value sent and overwritten: #ZDB_DEFAULT_VALUE_SIZE (513) bytes, receives the default
 *              as text (empty when there is none)
 * @return #ZDB_OK, 2001; server: 4036 the field has no default, 4030
 */
int32_t ZDB_CALL Z_GetDefaultValue(char* field, char* value); /* 513 bytes */
/**
 * Drops a field's default value.
 * @param field the field
 * @return #ZDB_OK, 2001; server: 4036 the field has no default, 4030, 4005
 */
int32_t ZDB_CALL Z_DelDefaultValue(const char* field);

/* ==== Cross references ======================================================================= */
/* A cross reference links a field of one table (from) to another table (to). A field reference
 * says that every non-empty value of the from-field equals the to-field's value of some record
 * of the to-table; a table reference, that the from-field holds a record number of the
 * to-table. Writing a from-value without a match answers 4037; changing a to-value that records
 * still point at answers 4038; deleting a record that records point at follows the rule:
 * "RESTRICT" refuses (4038), "CASCADE" deletes them too, "NULLIFY" empties their from-field.
 * The 297-byte record is laid out in docs/records.md. */

/**
 * Adds a field reference: every non-empty value of the from-field must equal the to-field's
 * value of some record of the to-table.
 * @param name the reference's name (1 to 32 characters, as a table name)
 * @param fromTable the table whose field refers; "" for the selected one
 * @param fromField the field that refers
 * @param toTable the table referred to, of the same database
 * @param toField the field referred to
 * @param rule what deleting a record referred to does: "RESTRICT" (also ""), "CASCADE" or
 *             "NULLIFY", in any letter case
 * @param description the reference's description
 * @return #ZDB_OK, 2001; server: 4023 bad name, 4021 unknown table, 4030 unknown field, 4002
 *         unknown rule, 4043 a reference of that name or with the same ends exists, 4037 present
 *         records already break it, 4005
 */
int32_t ZDB_CALL Z_AddFXREF(const char* name, const char* fromTable, const char* fromField,
                            const char* toTable, const char* toField, const char* rule,
                            const char* description);
/**
 * Adds a table reference: the from-field holds record numbers of the to-table.
 * @param name the reference's name (1 to 32 characters, as a table name)
 * @param fromTable the table whose field refers; "" for the selected one
 * @param fromField the field that holds record numbers
 * @param toTable the table referred to, of the same database
 * @param toField sent; zdbd does not read it (pass "")
 * @param rule as for Z_AddFXREF()
 * @param description the reference's description
 * @return as Z_AddFXREF()
 */
int32_t ZDB_CALL Z_AddTXREF(const char* name, const char* fromTable, const char* fromField,
                            const char* toTable, const char* toField, const char* rule,
                            const char* description);
/**
 * Drops the field reference with the given ends.
 * @param fromTable the table whose field refers; "" for the selected one
 * @param fromField the field that refers
 * @param toTable the table referred to
 * @param toField the field referred to
 * @return #ZDB_OK, 2001; server: 4039 no such reference, 4005
 */
int32_t ZDB_CALL Z_DelFXREF(const char* fromTable, const char* fromField, const char* toTable,
                            const char* toField);
/**
 * Drops the table reference with the given ends.
 * @param fromTable the table whose field refers; "" for the selected one
 * @param fromField the field that holds record numbers
 * @param toTable the table referred to
 * @param toField sent; zdbd does not read it (pass "")
 * @return #ZDB_OK, 2001; server: 4039 no such reference, 4005
 */
int32_t ZDB_CALL Z_DelTXREF(const char* fromTable, const char* fromField, const char* toTable,
                            const char* toField);
/**
 * Lists the cross references leaving a field.
 * @param field sent and overwritten: "TABLE.FIELD", or a field of the selected table
 * @param xrefs sent and overwritten: 29700 bytes, up to 100 records of #ZDB_XREF_RECORD_SIZE
 * @param count sent and overwritten: the number of references written
 * @return #ZDB_OK, 2001; server: 4030, 4021
 */
int32_t ZDB_CALL Z_XRefFromField(char* field, void* xrefs, int32_t* count); /* 29700 bytes */
/**
 * Lists the cross references arriving at a field.
 * @param field sent and overwritten: "TABLE.FIELD", or a field of the selected table; "TABLE."
 *              (no field) lists the table references to TABLE
 * @param xrefs sent and overwritten: 29700 bytes, up to 100 records of #ZDB_XREF_RECORD_SIZE
 * @param count sent and overwritten: the number of references written
 * @return #ZDB_OK, 2001; server: 4030, 4021
 */
int32_t ZDB_CALL Z_XRefToField(char* field, void* xrefs, int32_t* count); /* 29700 bytes */
/**
 * Reads the record of the table reference with the given ends.
 * @param fromTable sent and overwritten: the table whose field refers; "" for the selected one
 * @param fromField sent and overwritten: the field that holds record numbers
 * @param toTable sent and overwritten: the table referred to
 * @param toField sent and overwritten; zdbd does not read it
 * @param xref sent and overwritten: #ZDB_XREF_RECORD_SIZE (297) bytes
 * @return #ZDB_OK, 2001; server: 4039 no such reference
 */
int32_t ZDB_CALL Z_GetTXREF(char* fromTable, char* fromField, char* toTable, char* toField,
                            void* xref);
/**
 * Reads the record of the field reference with the given ends.
 * @param fromTable sent and overwritten: the table whose field refers; "" for the selected one
 * @param fromField sent and overwritten: the field that refers
 * @param toTable sent and overwritten: the table referred to
 * @param toField sent and overwritten: the field referred to
 * @param xref sent and overwritten: #ZDB_XREF_RECORD_SIZE (297) bytes
 * @return #ZDB_OK, 2001; server: 4039 no such reference
 */
int32_t ZDB_CALL Z_GetFXREF(char* fromTable, char* fromField, char* toTable, char* toField,
                            void* xref);
/**
 * Drops a cross reference by name.
 * @param name the reference
 * @return #ZDB_OK, 2001; server: 4039 no such reference, 4005
 */
int32_t ZDB_CALL Z_DelXREF(const char* name);
/**
 * Lists the tables the selected table refers to.
 * @param refs sent and overwritten: 3304 bytes: bytes 0-3 the number of tables, then their
 *             names, 33 bytes each (up to 100)
 * @return #ZDB_OK, 2001; server: 4020 no table selected, 4010 no database selected
 */
int32_t ZDB_CALL Z_TBRefFrom(void* refs); /* 3304 bytes */
/**
 * Lists the tables that refer to the selected table.
 * @param refs sent and overwritten: 3304 bytes, laid out as for Z_TBRefFrom()
 * @return #ZDB_OK, 2001; server: 4020 no table selected, 4010 no database selected
 */
int32_t ZDB_CALL Z_TBRefTo(void* refs); /* 3304 bytes */
/**
 * Reads a cross reference by name, with how well the data keeps it.
 * @param name sent and overwritten: the reference
 * @param xref sent and overwritten: 671 bytes: the #ZDB_XREF_RECORD_SIZE-byte record, then at
 *             297-300 the number of from-records holding a value and at 301-304 how many of
 *             them have no match (32-bit little-endian); the rest zero
 * @return #ZDB_OK, 2001; server: 4039 no such reference
 */
int32_t ZDB_CALL Z_GetXRef(char* name, void* xref); /* 671 bytes */

/* ==== Users and privileges =================================================================== */
/* zdbd: while no user exists every login is accepted and every session may do everything; the
 * first user added is an administrator. Privilege bits: ZDB_PRIV_READ, _CHANGE, _DEFINE; "*"
 * names every database or table. Managing users and privileges needs an administrator. */

/**
 * Checks credentials; the answer is the code. The texts pass through the server character set.
 * @param user user name
 * @param password password
 * @param reserved sent; zdbd does not read it
 * @return #ZDB_OK right; server: 4004 wrong; 2001
 */
int32_t ZDB_CALL Z_ValidUser(const char* user, const char* password, const char* reserved);
/**
 * Reads a user's description: lines "user=", "role=ADMIN" or "role=USER", and one
 * "grant=DB.TABLE:BITS" per privilege.
 * @param user sent and overwritten: user name
 * @param reserved sent and overwritten; zdbd does not read it
 * @param info sent and overwritten: 10000 bytes
 * @return #ZDB_OK, 2001; server: 4080 unknown, 4005
 */
int32_t ZDB_CALL Z_ReadUser(char* user, char* reserved, void* info); /* 10000 bytes */
/**
 * Adds a user.
 * @param user user name
 * @param password password
 * @param role "ADMIN" (any case) for an administrator, else "USER"
 * @return #ZDB_OK, 2001; server: 4081 exists, 4005
 */
int32_t ZDB_CALL Z_AddUser(const char* user, const char* password, const char* role);
/**
 * Deletes a user and its privileges; the last administrator stays while other users exist.
 * @param user user name
 * @param reserved1 sent; zdbd does not read it
 * @param reserved2 sent; zdbd does not read it
 * @return #ZDB_OK, 2001; server: 4080 unknown, 4005
 */
int32_t ZDB_CALL Z_DelUser(const char* user, const char* reserved1, const char* reserved2);
/**
 * Sets a user's password and role.
 * @param user user name
 * @param password new password
 * @param role "ADMIN" or "USER"
 * @param reserved sent; zdbd does not read it
 * @return #ZDB_OK, 2001; server: 4080, 4005
 */
int32_t ZDB_CALL Z_UpdUser(const char* user, const char* password, const char* role,
                           const char* reserved);
/**
 * Counts users.
 * @param reserved sent and overwritten; zdbd does not read it
 * @param users sent and overwritten: the number of users
 * @param admins sent and overwritten: the number of administrators
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_NumUsers(char* reserved, int32_t* users, int32_t* admins);
/**
 * Lists user names in name order.
 * @param reserved sent and overwritten; zdbd does not read it
 * @param count entries of @p users
 * @param users sent and overwritten: @p count x #ZDB_USER_NAME_SIZE (65) bytes
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_GetUsers(char* reserved, int32_t count, char* users); /* count x 65 bytes */
/**
 * Copies the user catalog (users with their salted password hashes, roles and privileges) into
 * a file on the server (zdbd: DIR/backups/FILE); an existing file is replaced.
 * @param file the file's name on the server: 1 to 64 letters, digits, "_", "-", ".", not
 *             starting with "."
 * @return #ZDB_OK, 2001; server: 4091 bad file name, 4005
 */
int32_t ZDB_CALL Z_CFUsers(const char* file);
/**
 * Defines the user catalog from a file written by Z_CFUsers(), replacing every user and
 * privilege.
 * @param file the file's name on the server, as for Z_CFUsers()
 * @return #ZDB_OK, 2001; server: 4092 no such file, 4091 bad file name, 4090 not a user
 *         catalog, 4005 (also: the file holds users but no administrator)
 */
int32_t ZDB_CALL Z_DFUsers(const char* file);
/**
 * Grants privilege bits.
 * @param user user name
 * @param database database, or "*"
 * @param table table, or "*"
 * @param reserved sent; zdbd does not read it
 * @param privileges ZDB_PRIV_ bits
 * @return #ZDB_OK, 2001; server: 4080, 4005
 */
int32_t ZDB_CALL Z_Grant(const char* user, const char* database, const char* table,
                         const char* reserved, int32_t privileges);
/**
 * Revokes privilege bits.
 * @param user user name
 * @param database database, or "*"
 * @param table table, or "*"
 * @param reserved sent; zdbd does not read it
 * @param privileges ZDB_PRIV_ bits
 * @return #ZDB_OK, 2001; server: 4080, 4005
 */
int32_t ZDB_CALL Z_Revoke(const char* user, const char* database, const char* table,
                          const char* reserved, int32_t privileges);
/**
 * Asks whether a user holds privilege bits; the answer is the code.
 * @param user user name
 * @param database database
 * @param table table
 * @param reserved sent; zdbd does not read it
 * @param privileges ZDB_PRIV_ bits, all of which must be held
 * @return #ZDB_OK held (administrators always; everyone while no user exists); server: 4005
 *         not held; 2001
 */
int32_t ZDB_CALL Z_IsAuthorizated(const char* user, const char* database, const char* table,
                                  const char* reserved, int32_t privileges);
/**
 * Grants privilege bits on a table to every user.
 * @param database database
 * @param table table
 * @param privileges ZDB_PRIV_ bits
 * @return #ZDB_OK, 2001; server: 4005
 */
int32_t ZDB_CALL Z_TBGrantAll(const char* database, const char* table, int32_t privileges);
/**
 * Revokes privilege bits on a table from every user.
 * @param database database
 * @param table table
 * @param privileges ZDB_PRIV_ bits
 * @return #ZDB_OK, 2001; server: 4005
 */
int32_t ZDB_CALL Z_TBRevokeAll(const char* database, const char* table, int32_t privileges);
/**
 * Grants a user privilege bits on every table of a database.
 * @param user user name
 * @param database database
 * @param reserved sent; zdbd does not read it
 * @param privileges ZDB_PRIV_ bits
 * @return #ZDB_OK, 2001; server: 4080, 4005
 */
int32_t ZDB_CALL Z_UsrGrantAll(const char* user, const char* database, const char* reserved,
                               int32_t privileges);
/**
 * Revokes a user's privilege bits on every table of a database.
 * @param user user name
 * @param database database
 * @param reserved sent; zdbd does not read it
 * @param privileges ZDB_PRIV_ bits
 * @return #ZDB_OK, 2001; server: 4080, 4005
 */
int32_t ZDB_CALL Z_UsrRevokeAll(const char* user, const char* database, const char* reserved,
                                int32_t privileges);
/**
 * Counts the users holding privileges on a table.
 * @param database sent and overwritten: database
 * @param table sent and overwritten: table
 * @param holders sent and overwritten: users holding privileges there
 * @param users sent and overwritten: all users
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_NumUsrPerTB(char* database, char* table, int32_t* holders, int32_t* users);
/**
 * Counts the tables a user holds privileges on.
 * @param user sent and overwritten: user name
 * @param database sent and overwritten: database
 * @param reserved sent and overwritten; zdbd does not read it
 * @param tables sent and overwritten: the number of tables
 * @param wholeDatabase sent and overwritten: the bits held on "*" (the whole database)
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_NumTBPerUser(char* user, char* database, char* reserved, int32_t* tables,
                                int32_t* wholeDatabase);
/**
 * Lists the users holding privileges on a table.
 * @param database sent and overwritten: database
 * @param table sent and overwritten: table
 * @param users sent and overwritten: @p count x #ZDB_USER_NAME_SIZE (65) bytes
 * @param count entries of @p users
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_UsrPerTable(char* database, char* table, char* users, int32_t count);
/**
 * Lists the tables a user holds privileges on ("*" for a whole-database grant).
 * @param user sent and overwritten: user name
 * @param database sent and overwritten: database
 * @param reserved sent and overwritten; zdbd does not read it
 * @param tables sent and overwritten: @p count x #ZDB_TABLE_NAME_SIZE (33) bytes
 * @param count entries of @p tables
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_TablesPerUser(char* user, char* database, char* reserved, char* tables,
                                 int32_t count); /* count x 33 bytes */
/**
 * Removes every privilege on a table.
 * @param database database
 * @param table table
 * @return #ZDB_OK, 2001; server: 4005
 */
int32_t ZDB_CALL Z_TBDeleteAll(const char* database, const char* table);
/**
 * Lists accounts: per user the name's first 7 characters, zero-terminated in 8 bytes
 * (converted from the server character set), then a 4-byte flag, 1 for administrators.
 * @param accounts sent and overwritten: @p count x #ZDB_ACCOUNT_SIZE (12) bytes
 * @param count entries of @p accounts
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_GetAccounts(void* accounts, int32_t count); /* count x 12 bytes */
/**
 * Reads the privilege bits a user holds (7 for administrators).
 * @param user sent and overwritten: user name
 * @param database sent and overwritten: database
 * @param table sent and overwritten: table
 * @param reserved sent and overwritten; zdbd does not read it
 * @param privileges sent and overwritten: the bits
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_GetPrivileges(char* user, char* database, char* table, char* reserved,
                                 int32_t* privileges);

/* ==== Run sessions and other requests ======================================================== */

/**
 * Logs in as a run session: ZDB_Init() with a buffer exchanged on the way; every later request
 * carries the run mark. Returns #ZDB_OK at once when already logged in.
 * @param user user name (converted to the server character set)
 * @param password password (likewise)
 * @param data sent and overwritten: @p length bytes of caller data (zdbd returns it unchanged)
 * @param length bytes of @p data
 * @param counter sent and overwritten: zdbd writes the number of live sessions
 * @return as ZDB_Init()
 */
int32_t ZDB_CALL Z_Run(const char* user, const char* password, void* data, int32_t length,
                       int32_t* counter);
/**
 * Ends a run session like ZDB_Finish().
 * @param data sent and overwritten: @p length bytes
 * @param length bytes of @p data
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_NoRun(void* data, int32_t length);
/**
 * A server function outside the catalog. zdbd knows two: 1 copies @p in into @p out (as far
 * as @p out reaches, zeros after), a loopback check of the path; 2 writes statistics lines
 * "sessions=", "requests=", "databases=", "locks=" into @p out.
 * @param function the function's number
 * @param in sent and overwritten: @p inLength bytes
 * @param inLength bytes of @p in
 * @param out sent and overwritten: @p outLength bytes, receives the result
 * @param outLength bytes of @p out
 * @return #ZDB_OK, 2001; server: 4002 unknown function
 */
int32_t ZDB_CALL Z_Internal(int32_t function, void* in, int32_t inLength, void* out,
                            int32_t outLength);
/**
 * Reads the current record's number as text.
 * @param key sent and overwritten: @p length bytes, the number as text
 * @param length bytes of @p key
 * @return #ZDB_OK, 2001; server: 4040 no current record
 */
int32_t ZDB_CALL Z_CurrentKey(void* key, int32_t length);
/**
 * Checks a field spec (the text Z_CreTable() reads) and writes it back normalised: letters in
 * upper case, widths filled in; with mode 1 it also creates the table.
 * @param spec sent and overwritten: 1500 bytes holding the zero-terminated spec
 * @param mode 1 also creates the table named by @p table (needs the define privilege), else 0
 * @param reserved sent; zdbd does not read it
 * @param table sent and overwritten: the table to create with mode 1
 * @return #ZDB_OK, 2001; server: 4032 a bad spec; with mode 1 also 4022, 4023, 4010, 4005
 */
int32_t ZDB_CALL Z_FsfToZdb(void* spec, int32_t mode, int32_t reserved, char* table);
/**
 * Creates a database or an empty table by kind.
 * @param name the database's or table's name
 * @param kind 1 a database (administrators only), 2 a table without fields in the selected
 *             database (needs the define privilege); add fields with Z_AddField()
 * @param flags 1: one that exists already is success, else 0
 * @return #ZDB_OK, 2001; server: 4002 other kinds, 4012/4022 exists, 4013/4023 bad name, 4010,
 *         4005
 */
int32_t ZDB_CALL Z_Create(const char* name, int32_t kind, int32_t flags);
/**
 * Asks what a name names: a database, or a table of the selected database.
 * @param name sent and overwritten: the name
 * @param kindText null, or 64 bytes sent and overwritten: "DATABASE", "TABLE" or ""
 * @param kind null, or sent and overwritten: 1 database, 2 table, 0 neither
 * @return #ZDB_OK, 2001; server: 4011 or 4021 neither
 */
int32_t ZDB_CALL Z_Exist(char* name, char* kindText, int32_t* kind);
/**
 * Evaluates an expression on the current record of an open table; the answer is the code.
 * @param expression one read-only expression in SQLite syntax over the table's field names,
 *                   e.g. "PRICE > 10 AND CITY = 'Rome'"
 * @param table the open table; "" for the selected one
 * @return #ZDB_OK true, 4044 false (0, empty or null), 2001; server: 4070 anything but one
 *         read-only expression, or an error (ZDB_GetError() gives its message), 4024, 4040
 */
int32_t ZDB_CALL Z_ExpCheck(const char* expression, const char* table);
/**
 * Reads where the session stands.
 * @param selector sent and overwritten: 508 bytes: 0-8 the selected database, 9-41 the selected
 *                 table, 42-45 its current record, 46-49 its number of records, 50-53 the
 *                 number of open tables of the database, from 54 their names (33 bytes each, up
 *                 to 13); texts zero-terminated, numbers 32-bit little-endian
 * @param databases sent and overwritten: 2 bytes, the number of databases in use (16-bit)
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL Z_GetSelector(void* selector, void* databases); /* 508 and 2 bytes */
/**
 * Reads when the selected database last changed (UTC).
 * @param name sent and overwritten; zdbd does not read it
 * @param date sent and overwritten: 11 bytes, "YYYY-MM-DD"
 * @param time sent and overwritten: 9 bytes, "HH:MM:SS"
 * @param flag sent and overwritten: 2 bytes (zdbd: zero)
 * @return #ZDB_OK, 2001; server: 4010
 */
int32_t ZDB_CALL Z_LastUpdate(char* name, char* date, char* time, void* flag); /* 11, 9, 2 */

/* ==== SQL scripts, database export and import ================================================ */

/**
 * Runs an SQL script on the selected database; the rows come back into a local file, one line
 * per row, written as the server sends them. zdbd separates the columns by tabs and writes each
 * value so that no two read alike: a backslash, tab, newline, carriage return or zero byte in a
 * text becomes a backslash and one letter, null and binary values are marked by a backslash
 * too, and numbers come in their shortest exact form (docs/server.md, "Script rows").
 *
 * Every "&N" in the script (N from 1) is replaced by the value of "&N=" in @p parameters
 * before it is sent, verbatim: the caller quotes. Write text values inside quotes in the
 * script ('&1') and double every single quote inside a value; a value ends at the next ";",
 * so it cannot hold one, and has at most 255 characters. The first "&N=" found anywhere in
 * @p parameters wins, even inside an earlier value. An "&" not followed by a digit stays as
 * it is.
 * @param script an inline script when it starts with "#" ("#SELECT ..."), else the name of a
 *               local file holding it (at most 255 characters)
 * @param outputFile the local file that receives the rows (created or replaced; at most 255
 *                   characters)
 * @param parameters "&1=value;&2=value", or null for a script without "&"
 * @param runValue sent as it is; for zdbd, bit 0 asks for described rows: a line of column
 *                 names before each statement's rows, and each value led by its storage class
 * @return #ZDB_OK; 3003 null script or output file; 2003 a reference without a value or a path
 *         too long (nothing sent); 2120 a temporary file failed; 2001; server: 4070 an SQL
 *         error (ZDB_GetError() gives its message; the rows before it are in the file), 4071
 *         a statement zdbd refuses in a script (changes to the catalog or SQLite's schema,
 *         creating or dropping tables and indexes, ATTACH, setting pragmas, transaction
 *         statements inside ZDB_BeginTransaction(), a value the field's rules refuse;
 *         ZDB_GetError() gives the reason), 4111 a script over 16 MiB, 4112 the disk is full, 4010,
 *         4005
 */
int32_t ZDB_CALL ZDB_SqlRun(const char* script, const char* outputFile, const char* parameters,
                            int32_t runValue);
/**
 * Exports a whole database into a local file (zdbd: an SQLite file; administrators only).
 * @param database the database; "" for the selected one
 * @param options sent as it is
 * @param localPath the local file that receives the export (created or replaced)
 * @return #ZDB_OK, 2003 empty or too long path (nothing sent), 2001; server: 4011, 4111 the
 *         file is over the server's file-stream limit (nothing is sent), 4005
 */
int32_t ZDB_CALL Z_ExportDB(const char* database, const char* options, const char* localPath);
/**
 * Imports a database from a local export file; the server's report comes back into a second
 * local file (administrators only).
 * @param database the database to create or replace
 * @param mode "REPLACE" to replace an existing database (no session may use it), else ""
 * @param sendPath the local export file to send
 * @param receivePath the local file that receives the report (tables, records, outcome)
 * @return #ZDB_OK, 2003 path too long, 2001 also for a file that cannot be read; server: 4090
 *         not an export, 4012 exists, 4014 in use, 4111 over the server's file-stream limit,
 *         4005
 */
int32_t ZDB_CALL Z_ImportDB(const char* database, const char* mode, const char* sendPath,
                            const char* receivePath);

#endif /* ZDB_API_CATALOG_H */
