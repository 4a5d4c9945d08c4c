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
 * another server may. "zdbd: 4001" marks requests the stand-in server does not support.
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
 * Reads the table's file-system flags. zdbd: 4001.
 * @param fsf sent and overwritten: 2 bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_GetFsf(void* fsf); /* 2 bytes */
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
 * @param option sent; zdbd does not read it
 * @param reserved sent; zdbd does not read it
 * @return #ZDB_OK, 2001; server: 4020, 4005
 */
int32_t ZDB_CALL Z_RebTable(int32_t option, int32_t reserved);
/**
 * Changes a table's definition from its record (zdbd: the description of the table the record
 * names; an empty name for the selected one).
 * @param tableRecord #ZDB_TABLE_RECORD_SIZE (113) bytes, sent only
 * @return #ZDB_OK, 2001; server: 4021, 4005
 */
int32_t ZDB_CALL Z_UpdTable(void* tableRecord);
/**
 * Reads a table's identifier. zdbd: 4001.
 * @param database sent and overwritten: the database
 * @param table sent and overwritten: the table
 * @param id sent and overwritten: 7 bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_GetIDTable(char* database, char* table, void* id); /* 7 bytes */
/**
 * Reads a table's structure. zdbd: 4001.
 * @param name sent and overwritten: a 64-byte buffer holding the name (all 64 bytes are sent)
 * @param structure sent and overwritten: 1500 bytes
 * @param count sent and overwritten: the number of entries
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_Structure(char* name, void* structure, int32_t* count); /* 64, 1500 bytes */
/**
 * Renames a table (and this session's open and selected entries of it).
 * @param from the table; "" for the selected one
 * @param to its new name
 * @return #ZDB_OK, 2001; server: 4021, 4022, 4023, 4005
 */
int32_t ZDB_CALL Z_Rename(const char* from, const char* to);
/**
 * Lists table aliases. zdbd: 4001.
 * @param aliases sent and overwritten: 3300 bytes
 * @param count sent and overwritten: the number of aliases
 * @return #ZDB_OK, 2001 or the server's status
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
 * @return #ZDB_OK, 2001; server: 4030, 4032, 4005
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

/* ==== Indexes (zdbd: 4001; use ZDB_CreateIndex()) ============================================= */

/**
 * Adds fields to an index.
 * @param index the index
 * @param fields the fields
 * @param flags sent as it is
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_AddIFields(const char* index, const char* fields, int32_t flags);
/**
 * Removes fields from an index.
 * @param index the index
 * @param fields the fields
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_DelIFields(const char* index, const char* fields);
/**
 * Changes fields of an index.
 * @param index the index
 * @param fields the fields
 * @param flags sent as it is
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_UpdIFields(const char* index, const char* fields, int32_t flags);
/**
 * Lists an index's fields.
 * @param index sent and overwritten: the index
 * @param count sent and overwritten: the number of fields
 * @param fields sent and overwritten: 3900 bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_IndexFields(char* index, int32_t* count, void* fields); /* 3900 bytes */
/**
 * Lists the table's indexes.
 * @param count sent and overwritten: the number of indexes
 * @param indexes sent and overwritten: 3600 bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_TableIndex(int32_t* count, void* indexes); /* 3600 bytes */
/**
 * Reads an index's record.
 * @param index sent and overwritten: the index
 * @param indexRecord sent and overwritten: 36 bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_GetIndex(char* index, void* indexRecord); /* 36 bytes */

/* ==== Constraints (zdbd: 4001) and default values =========================================== */

/**
 * Adds a constraint to a field.
 * @param field the field
 * @param constraint #ZDB_CONSTRAINT_RECORD_SIZE (364) bytes, sent only
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_AddConstrain(const char* field, void* constraint); /* 364 bytes */
/**
 * Drops a constraint of a field.
 * @param field the field
 * @param number the constraint's number
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_DelConstrain(const char* field, int32_t number);
/**
 * Changes a constraint of a field.
 * @param field the field
 * @param constraint #ZDB_CONSTRAINT_RECORD_SIZE (364) bytes, sent only
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_UpdConstrain(const char* field, void* constraint);
/**
 * Reads a constraint of a field.
 * @param field sent and overwritten: the field
 * @param number the constraint's number; only its low 16 bits are sent
 * @param constraint sent and overwritten: #ZDB_CONSTRAINT_RECORD_SIZE (364) bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_GetConstrain(char* field, int32_t number, void* constraint);
/**
 * Lists a field's constraints.
 * @param field sent and overwritten: the field
 * @param count sent and overwritten: the number of constraints
 * @param constraints sent and overwritten: 250 bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_FieldConstrain(char* field, int32_t* count, void* constraints); /* 250 */
/**
 * Sets a field's default value. zdbd: 4001.
 * @param field the field
 * @param value the default value as text
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_PutDefaultValue(const char* field, const char* value);
/**
 * Reads a field's default value. zdbd: 4001.
 * @param field sent and overwritten: the field
 * @param value sent and overwritten: #ZDB_DEFAULT_VALUE_SIZE (513) bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_GetDefaultValue(char* field, char* value); /* 513 bytes */
/**
 * Drops a field's default value. zdbd: 4001.
 * @param field the field
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_DelDefaultValue(const char* field);

/* ==== Cross references (zdbd: 4001) ========================================================== */

/**
 * Adds a field cross reference: a field that refers to a field of another table.
 * @param table the referring table
 * @param field the referring field
 * @param refDatabase the database referred to
 * @param refTable the table referred to
 * @param refField the field referred to
 * @param rule the reference's rule, as the server reads it
 * @param description the reference's description
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_AddFXREF(const char* table, const char* field, const char* refDatabase,
                            const char* refTable, const char* refField, const char* rule,
                            const char* description);
/**
 * Adds a table cross reference.
 * @param table the referring table
 * @param field the referring field
 * @param refDatabase the database referred to
 * @param refTable the table referred to
 * @param refField the field referred to
 * @param rule the reference's rule, as the server reads it
 * @param description the reference's description
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_AddTXREF(const char* table, const char* field, const char* refDatabase,
                            const char* refTable, const char* refField, const char* rule,
                            const char* description);
/**
 * Drops a field cross reference.
 * @param table the referring table
 * @param field the referring field
 * @param refTable the table referred to
 * @param refField the field referred to
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_DelFXREF(const char* table, const char* field, const char* refTable,
                            const char* refField);
/**
 * Drops a table cross reference.
 * @param table the referring table
 * @param field the referring field
 * @param refTable the table referred to
 * @param refField the field referred to
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_DelTXREF(const char* table, const char* field, const char* refTable,
                            const char* refField);
/**
 * Lists the cross references from a field.
 * @param field sent and overwritten: the field
 * @param xrefs sent and overwritten: 29700 bytes (100 records of #ZDB_XREF_RECORD_SIZE)
 * @param count sent and overwritten: the number of references
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_XRefFromField(char* field, void* xrefs, int32_t* count); /* 29700 bytes */
/**
 * Lists the cross references to a field.
 * @param field sent and overwritten: the field
 * @param xrefs sent and overwritten: 29700 bytes
 * @param count sent and overwritten: the number of references
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_XRefToField(char* field, void* xrefs, int32_t* count); /* 29700 bytes */
/**
 * Reads a table cross reference's record.
 * @param table sent and overwritten: the referring table
 * @param field sent and overwritten: the referring field
 * @param refTable sent and overwritten: the table referred to
 * @param refField sent and overwritten: the field referred to
 * @param xref sent and overwritten: #ZDB_XREF_RECORD_SIZE (297) bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_GetTXREF(char* table, char* field, char* refTable, char* refField, void* xref);
/**
 * Reads a field cross reference's record.
 * @param table sent and overwritten: the referring table
 * @param field sent and overwritten: the referring field
 * @param refTable sent and overwritten: the table referred to
 * @param refField sent and overwritten: the field referred to
 * @param xref sent and overwritten: #ZDB_XREF_RECORD_SIZE (297) bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_GetFXREF(char* table, char* field, char* refTable, char* refField, void* xref);
/**
 * Drops a cross reference by name.
 * @param name the reference
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_DelXREF(const char* name);
/**
 * Lists the references from the current table.
 * @param refs sent and overwritten: 3304 bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_TBRefFrom(void* refs); /* 3304 bytes */
/**
 * Lists the references to the current table.
 * @param refs sent and overwritten: 3304 bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_TBRefTo(void* refs); /* 3304 bytes */
/**
 * Reads a cross reference by name.
 * @param name sent and overwritten: the reference
 * @param xref sent and overwritten: 671 bytes
 * @return #ZDB_OK, 2001 or the server's status
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
 * Creates a user file. zdbd: 4001.
 * @param name the file
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_CFUsers(const char* name);
/**
 * Deletes a user file. zdbd: 4001.
 * @param name the file
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_DFUsers(const char* name);
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
 * A pass-through request (opcode 34). zdbd: 4001.
 * @param request the request's number
 * @param in sent and overwritten: @p inLength bytes
 * @param inLength bytes of @p in
 * @param out sent and overwritten: @p outLength bytes
 * @param outLength bytes of @p out
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_Internal(int32_t request, void* in, int32_t inLength, void* out,
                            int32_t outLength);
/**
 * Reads the current record's number as text.
 * @param key sent and overwritten: @p length bytes, the number as text
 * @param length bytes of @p key
 * @return #ZDB_OK, 2001; server: 4040 no current record
 */
int32_t ZDB_CALL Z_CurrentKey(void* key, int32_t length);
/**
 * Converts a file-system structure. zdbd: 4001.
 * @param structure sent and overwritten: 1500 bytes
 * @param option1 sent as it is
 * @param option2 sent as it is
 * @param name sent and overwritten: a text
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_FsfToZdb(void* structure, int32_t option1, int32_t option2, char* name);
/**
 * A create request (opcode 91). zdbd: 4001.
 * @param name the name
 * @param option1 sent as it is
 * @param option2 sent as it is
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_Create(const char* name, int32_t option1, int32_t option2);
/**
 * Asks what a name names: a database, or a table of the selected database.
 * @param name sent and overwritten: the name
 * @param kindText null, or 64 bytes sent and overwritten: "DATABASE", "TABLE" or ""
 * @param kind null, or sent and overwritten: 1 database, 2 table, 0 neither
 * @return #ZDB_OK, 2001; server: 4011 or 4021 neither
 */
int32_t ZDB_CALL Z_Exist(char* name, char* kindText, int32_t* kind);
/**
 * Checks an expression. zdbd: 4001.
 * @param expression the expression
 * @param table the table it is checked against
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_ExpCheck(const char* expression, const char* table);
/**
 * A selector request (opcode 121). zdbd: 4001.
 * @param selector sent and overwritten: 508 bytes
 * @param value sent and overwritten: 2 bytes
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_GetSelector(void* selector, void* value); /* 508 and 2 bytes */
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
 * per row, columns separated by tabs.
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
 * @param runValue sent as it is; zdbd does not read it
 * @return #ZDB_OK; 3003 null script or output file; 2003 a reference without a value or a path
 *         too long (nothing sent); 2120 a temporary file failed; 2001; server: 4070 an SQL
 *         error (ZDB_GetError() gives its message; the rows before it are in the file), 4010,
 *         4005
 */
int32_t ZDB_CALL ZDB_SqlRun(const char* script, const char* outputFile, const char* parameters,
                            int32_t runValue);
/**
 * Exports a whole database into a local file (zdbd: an SQLite file; administrators only).
 * @param database the database; "" for the selected one
 * @param options sent as it is
 * @param localPath the local file that receives the export (created or replaced)
 * @return #ZDB_OK, 2003 empty or too long path (nothing sent), 2001; server: 4011, 4005
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
 *         not an export, 4012 exists, 4014 in use, 4005
 */
int32_t ZDB_CALL Z_ImportDB(const char* database, const char* mode, const char* sendPath,
                            const char* receivePath);

#endif /* ZDB_API_CATALOG_H */
