/*
 * zdb_api: client library of the ZDB database server.
 *
 * Every function returns a 32-bit ResultCode (ZDB_OK, 1000, on success) unless its comment says
 * otherwise. Each thread works with its own session, created by ZDB_SelHost.
 */
#ifndef ZDB_API_H
#define ZDB_API_H

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
/* after windows.h, which it needs */
#include <oleauto.h>
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define ZDB_CALL __stdcall
#else
#define ZDB_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- ResultCodes produced by the library; any other value is the server's status ---------- */
#define ZDB_UDP_FAILURE 0             /* UDP: socket failure (see ZDB_TCPError); no server found */
#define ZDB_OK 1000                   /* success */
#define ZDB_ERR_COMMUNICATION 2001    /* no session, transport failure, bad host, cache full */
#define ZDB_ERR_ARGUMENT 2003         /* bad argument, array or unresolved script parameter */
#define ZDB_ERR_NO_MEMORY 2004        /* memory could not be allocated */
#define ZDB_ERR_NO_FIELD 2013         /* none of the listed fields is defined */
#define ZDB_ERR_CONNECT 2016          /* the TCP connection could not be established */
#define ZDB_ERR_NO_DATABASE 2021      /* no database selected */
#define ZDB_ERR_TEMP_FILE 2120        /* a script run's file could not be named or opened */
#define ZDB_PROBE_ANSWERED 2600       /* the server answered the probe */
#define ZDB_PROBE_SILENT 2601         /* no answer (or no stop acknowledgement) in 2 seconds */
#define ZDB_STOP_STILL_RUNNING 2605   /* stop acknowledged but the server still answers */
#define ZDB_STOP_DONE 2606            /* the server has stopped */
#define ZDB_ERR_VERSION 2700          /* the server's version is not accepted */
#define ZDB_ERR_SCRIPT_ARGUMENTS 3003 /* ZDB_SqlRun without a script or output file */

/* ---- Sizes of the buffers and records that callers pass -------------------------------------- */
#define ZDB_FIELD_DEF_SIZE 43            /* one field definition (Z_InfoFields, whole records) */
#define ZDB_FIELD_DEF_MAX 300            /* field definitions in a list */
#define ZDB_FIELD_DEF_LIST_SIZE 12900    /* ZDB_FIELD_DEF_MAX x ZDB_FIELD_DEF_SIZE */
#define ZDB_FIELD_DESCRIPTOR_SIZE 132    /* Z_AddField, Z_UpdField, Z_GetField */
#define ZDB_TABLE_RECORD_SIZE 113        /* Z_CreTable, Z_UpdTable, Z_GetTable */
#define ZDB_DATABASE_RECORD_SIZE 773     /* Z_GetDataBase */
#define ZDB_CONSTRAINT_RECORD_SIZE 364   /* Z_AddConstrain, Z_UpdConstrain, Z_GetConstrain */
#define ZDB_XREF_RECORD_SIZE 297         /* Z_GetFXREF, Z_GetTXREF */
#define ZDB_DATABASE_NAME_SIZE 9         /* a database name: 8 characters and a zero */
#define ZDB_TABLE_NAME_SIZE 33           /* a table or field name: 32 characters and a zero */
#define ZDB_USER_NAME_SIZE 65            /* one entry of Z_GetUsers and Z_UsrPerTable */
#define ZDB_ACCOUNT_SIZE 12              /* one entry of Z_GetAccounts */
#define ZDB_ERROR_TEXT_SIZE 129          /* ZDB_GetError, Z_GetError */
#define ZDB_HOST_TEXT_SIZE 257           /* ZDB_GetHost */
#define ZDB_DEFAULT_VALUE_SIZE 513       /* Z_GetDefaultValue, Z_GetField's description */
#define ZDB_RECORD_VALUES_MAX 300        /* elements of a whole-record value array */
#define ZDB_DEFAULT_PORT 2500            /* the server's port when a host text names none */

/* ---- The size arguments of the single-field calls (uint32_t) -------------------------------- */
#define ZDB_SIZE_FROM_DEFINITION 0xFFFFFFFFu /* -1: the library sizes the value */
#define ZDB_SIZE_LIBRARY_BUFFER 0xFFFFFFFEu  /* -2: reading into a buffer of the library's own */

/* ---- Connection modes of ZDB_Connection ------------------------------------------------------ */
#define ZDB_CONNECTION_PER_REQUEST 0 /* default: one TCP connection per request */
#define ZDB_CONNECTION_HELD 1        /* one connection from login to logout */
#define ZDB_CONNECTION_HELD_ALT 2    /* the same as 1 for this library; sent as its own bit */

/* ---- Privilege bits (Z_Grant, Z_Revoke, Z_IsAuthorizated, ...) ------------------------------- */
#define ZDB_PRIV_READ 1   /* read records */
#define ZDB_PRIV_CHANGE 2 /* append, write, delete and lock records */
#define ZDB_PRIV_DEFINE 4 /* define tables, fields and indexes; run scripts */
#define ZDB_PRIV_ALL 7

/* ---- Field type and subtype letters (field definitions and descriptors) ---------------------- */
#define ZDB_TYPE_TEXT 'C'       /* text of a width */
#define ZDB_TYPE_NUMBER 'N'     /* number: 8-byte double as a single-field value */
#define ZDB_TYPE_INTEGER 'I'    /* integer: 2-byte value as a single-field value */
#define ZDB_SUBTYPE_NUMERIC 'N' /* numeric text: 8-byte double as a single-field value */
#define ZDB_SUBTYPE_DATE 'D'    /* date YYYY-MM-DD, 10 characters */
#define ZDB_SUBTYPE_MEMO 'M'    /* memo: text of any length (255 in record buffers) */
#define ZDB_SUBTYPE_BINARY 'B'  /* binary (255 in record buffers) */

/* ---- Automation arrays ---------------------------------------------------------------------
 * On Windows these are OLE Automation's own types. Elsewhere the library exports a
 * layout-compatible stand-in: a BSTR points just past a 32-bit byte length and is followed by
 * two zero bytes; a SAFEARRAY has one bound per dimension. */
#ifndef _WIN32
typedef uint16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef int32_t HRESULT;
typedef uint16_t VARTYPE;
#define VT_BSTR 8
typedef struct tagSAFEARRAYBOUND {
  uint32_t cElements;
  int32_t lLbound;
} SAFEARRAYBOUND;
typedef struct tagSAFEARRAY {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;

SAFEARRAY* SafeArrayCreate(VARTYPE vt, uint32_t cDims, SAFEARRAYBOUND* rgsabound);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayGetElement(SAFEARRAY* psa, int32_t* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, int32_t* rgIndices, void* pv);
uint32_t SafeArrayGetDim(SAFEARRAY* psa);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, uint32_t nDim, int32_t* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, uint32_t nDim, int32_t* plUbound);
BSTR SysAllocStringByteLen(const char* psz, uint32_t len);
void SysFreeString(BSTR bstr);
uint32_t SysStringByteLen(BSTR bstr);
#endif

/* ---- Host selection, login and session control -------------------------------------------- */
int32_t ZDB_CALL ZDB_SelHost(const char* host);
int32_t ZDB_CALL ZDB_Init(const char* user, const char* password);
int32_t ZDB_CALL ZDB_GetVersion(uint32_t* version);
int32_t ZDB_CALL ZDB_Finish(void);
int32_t ZDB_CALL ZDB_Connection(int32_t mode);
int32_t ZDB_CALL SetConnectionOptions(const char* chars);
int32_t ZDB_CALL ZDB_GetHost(char* buffer);
int32_t ZDB_CALL ZDB_GetError(uint32_t code, char* text);
int32_t ZDB_CALL Z_GetError(uint32_t code, char* text);
int32_t ZDB_CALL ZDB_TCPError(char* buffer); /* returns the last socket error number */

/* ---- Probe, discovery and stop over UDP ---------------------------------------------------- */
int32_t ZDB_CALL ZDB_IsActive(const char* host);
int32_t ZDB_CALL ZDB_Stop(const char* host);
int32_t ZDB_CALL ZDB_GetServers(char** list, int32_t max, int32_t port); /* servers found */
int32_t ZDB_CALL DB_GetServers(SAFEARRAY** list, int32_t max, int32_t port);

/* ---- Database and table selection, records, locks, transactions, maintenance --------------- */
/* Names the library keys locally (databases up to 8 characters, tables up to 32) are refused
 * with ZDB_ERR_ARGUMENT when longer. */
int32_t ZDB_CALL ZDB_UseDB(const char* database);
int32_t ZDB_CALL ZDB_UnUseDB(const char* database);
int32_t ZDB_CALL ZDB_SelDB(const char* database);
int32_t ZDB_CALL ZDB_GetDB(char* database); /* 9 bytes, sent and overwritten */
int32_t ZDB_CALL ZDB_OpenTable(const char* table, const char* second, const char* third);
int32_t ZDB_CALL ZDB_CloseTable(const char* table);
int32_t ZDB_CALL ZDB_SelTable(const char* table, const char* second);
int32_t ZDB_CALL ZDB_GetTable(char* table); /* 33 bytes, sent and overwritten */
int32_t ZDB_CALL ZDB_Alias(const char* first, const char* second, const char* third);
/* Field definitions (43-byte records) of "*" or a comma-separated list into 12900 bytes; the
 * list is sent and overwritten when the server is asked, so it must be writable. */
int32_t ZDB_CALL Z_InfoFields(char* fieldList, void* fieldDefs);

int32_t ZDB_CALL ZDB_DBLock(const char* text);
int32_t ZDB_CALL ZDB_DBUnLock(const char* text);
int32_t ZDB_CALL ZDB_DBIsLock(const char* text);
int32_t ZDB_CALL ZDB_LockTable(const char* text);
int32_t ZDB_CALL ZDB_Seek(const char* first, const char* second);
int32_t ZDB_CALL ZDB_Read(const char* first, const char* second);
int32_t ZDB_CALL ZDB_AppendBlank(void);
int32_t ZDB_CALL ZDB_Write(void);
int32_t ZDB_CALL ZDB_Delete(const char* text);
int32_t ZDB_CALL ZDB_RecUnLock(const char* text);
/* Both the text and the 33-byte holder buffer are overwritten with the server's reply. */
int32_t ZDB_CALL ZDB_WhoLock(char* text, char* holder);

int32_t ZDB_CALL ZDB_BeginTransaction(void);
int32_t ZDB_CALL ZDB_EndTransaction(void);
int32_t ZDB_CALL ZDB_TRStatus(int32_t* status); /* sent and overwritten */
int32_t ZDB_CALL ZDB_Commit(void);
int32_t ZDB_CALL ZDB_RollBack(void);

int32_t ZDB_CALL ZDB_BackupTable(const char* first, const char* second);
int32_t ZDB_CALL ZDB_RestoreTable(const char* first, const char* second);
int32_t ZDB_CALL ZDB_CreateIndex(const char* first, const char* second, const char* third);
int32_t ZDB_CALL ZDB_EraseIndex(const char* text);
int32_t ZDB_CALL ZDB_RebuildIndex(const char* text);
int32_t ZDB_CALL ZDB_CompactTable(const char* text);
int32_t ZDB_CALL ZDB_ClearTable(const char* text, int32_t value); /* low 16 bits are sent */
int32_t ZDB_CALL ZDB_FFCopy(const char* first, const char* second);
int32_t ZDB_CALL ZDB_XRefTest(const char* first, const char* second);

/* ---- Field values: single fields, whole records, direct access, Automation forms ----------- */
/* Sizes: -1 lets the library choose the size from the field's definition (numbers 8 bytes,
 * 2-byte integers 2, dates 10, memo and binary 256, texts their width when read and their
 * length when written). A reading call with -2 receives the value into a buffer of the
 * library's own. Calls with a full reply (ZDB_GetField, ZDB_IsNull, ZDB_GetRead, ZDB_FRead,
 * ZDB_FWrite) write the reply's copy of every text they send back into it: pass writable
 * memory. */
int32_t ZDB_CALL ZDB_GetField(char* name, void* value, uint32_t size);
int32_t ZDB_CALL ZDB_PutField(const char* name, const void* value, uint32_t size);
int32_t ZDB_CALL ZDB_TestField(const char* name, const void* value, uint32_t size);
int32_t ZDB_CALL ZDB_IsNull(char* name, void* indicator); /* 2-byte indicator */
int32_t ZDB_CALL ZDB_CpyField(const char* a, const char* b, const char* c, const char* d);
int32_t ZDB_CALL ZDB_2CpyField(const char* a, const char* b, const char* c, const char* d,
                               const char* e, const char* f);
/* Whole records: one text per delivered field, in definition order. Reading calls free (with
 * free()) every non-null element among the delivered fields and store new malloc'd texts that
 * belong to the caller; the array needs room for every field of the list (300 covers any). */
int32_t ZDB_CALL ZDB_GetRead(char* first, char* second, const char* fieldList, char** values);
int32_t ZDB_CALL ZDB_MatGetFields(const char* fieldList, char** values);
int32_t ZDB_CALL ZDB_PutWrite(const char* fieldList, char** values);
int32_t ZDB_CALL ZDB_MatPutFields(const char* fieldList, char** values);
/* Direct field access: a leading text goes ahead of the field name. */
int32_t ZDB_CALL ZDB_FRead(char* leading, char* name, void* value, uint32_t size);
int32_t ZDB_CALL ZDB_FWrite(char* leading, char* name, void* value, uint32_t size);
/* Automation forms over one-dimensional SAFEARRAYs of byte BSTRs. A null array reference makes
 * the reading calls create a 300-element array; writing calls send fields beyond the supplied
 * values (the array's end or its first empty element) as empty texts. */
int32_t ZDB_CALL DB_GetRead(char* first, char* second, const char* fieldList, SAFEARRAY** array);
int32_t ZDB_CALL DB_MatGetFields(const char* fieldList, SAFEARRAY** array);
int32_t ZDB_CALL DB_MatPutFields(const char* fieldList, SAFEARRAY** array);
int32_t ZDB_CALL DB_PutWrite(const char* fieldList, SAFEARRAY** array);

/* ---- Catalog administration and run sessions ------------------------------------------------
 * Requests that only change the catalog return the server's status and change no caller memory.
 * Requests that answer with data send every text, counter and buffer argument with its current
 * content and overwrite it with the server's bytes; hence those texts are not const. */
/* databases */
int32_t ZDB_CALL Z_NewDB(const char* a1, const char* a2, const char* a3, int32_t a4,
                         const char* a5);
int32_t ZDB_CALL Z_DelDB(void);
int32_t ZDB_CALL Z_NumDB(int32_t* n1, int32_t* n2);
int32_t ZDB_CALL Z_DataBase(int32_t count, char* names); /* count x 9 bytes */
int32_t ZDB_CALL Z_GetDataBase(void* record);            /* 773 bytes */
/* tables */
int32_t ZDB_CALL Z_CreTable(const char* a1, const char* a2, const char* a3, void* tableRecord);
int32_t ZDB_CALL Z_DbTables(int32_t count, char* names); /* count x 33 bytes */
int32_t ZDB_CALL Z_DelTable(const char* table, int32_t value);
int32_t ZDB_CALL Z_GetPhysName(char* name);     /* 256 bytes */
int32_t ZDB_CALL Z_GetFsf(void* fsf);           /* 2 bytes */
int32_t ZDB_CALL Z_GetTable(void* tableRecord); /* 113 bytes */
int32_t ZDB_CALL Z_NumTables(int32_t* n1, int32_t* n2);
int32_t ZDB_CALL Z_RebTable(int32_t v1, int32_t v2);
int32_t ZDB_CALL Z_UpdTable(void* tableRecord);
int32_t ZDB_CALL Z_GetIDTable(char* a1, char* a2, void* id);           /* 7 bytes */
int32_t ZDB_CALL Z_Structure(char* name, void* structure, int32_t* n); /* 64, 1500 bytes */
int32_t ZDB_CALL Z_Rename(const char* from, const char* to);
int32_t ZDB_CALL Z_TableAlias(void* aliases, int32_t* n); /* 3300 bytes */
/* fields */
int32_t ZDB_CALL Z_AddField(const char* a1, const char* a2, void* descriptor); /* 132 bytes */
int32_t ZDB_CALL Z_DelField(const char* field);
int32_t ZDB_CALL Z_UpdField(const char* a1, const char* a2, void* descriptor);
/* defaultValue (513 bytes) may be null: then the descriptor of the field alone is asked for */
int32_t ZDB_CALL Z_GetField(char* field, char* defaultValue, void* descriptor);
int32_t ZDB_CALL Z_TableFields(int32_t* n, void* fields); /* 9900 bytes */
int32_t ZDB_CALL Z_GFields(void* definitions, int32_t length);
/* then fetches the current table's cached definitions anew */
int32_t ZDB_CALL Z_PFields(void* definitions, int32_t length);
int32_t ZDB_CALL Z_CanBeDelete(const char* field);
/* indexes */
int32_t ZDB_CALL Z_AddIFields(const char* a1, const char* a2, int32_t value);
int32_t ZDB_CALL Z_DelIFields(const char* a1, const char* a2);
int32_t ZDB_CALL Z_UpdIFields(const char* a1, const char* a2, int32_t value);
int32_t ZDB_CALL Z_IndexFields(char* index, int32_t* n, void* fields); /* 3900 bytes */
int32_t ZDB_CALL Z_TableIndex(int32_t* n, void* indexes);              /* 3600 bytes */
int32_t ZDB_CALL Z_GetIndex(char* index, void* indexRecord);           /* 36 bytes */
/* constraints and default values */
int32_t ZDB_CALL Z_AddConstrain(const char* a1, void* constraint); /* 364 bytes */
int32_t ZDB_CALL Z_DelConstrain(const char* a1, int32_t value);
int32_t ZDB_CALL Z_UpdConstrain(const char* a1, void* constraint);
int32_t ZDB_CALL Z_GetConstrain(char* a1, int32_t value16, void* constraint);
int32_t ZDB_CALL Z_FieldConstrain(char* field, int32_t* n, void* constraints); /* 250 bytes */
int32_t ZDB_CALL Z_PutDefaultValue(const char* field, const char* value);
int32_t ZDB_CALL Z_GetDefaultValue(char* field, char* value); /* 513 bytes */
int32_t ZDB_CALL Z_DelDefaultValue(const char* field);
/* cross references */
int32_t ZDB_CALL Z_AddFXREF(const char* a1, const char* a2, const char* a3, const char* a4,
                            const char* a5, const char* a6, const char* a7);
int32_t ZDB_CALL Z_AddTXREF(const char* a1, const char* a2, const char* a3, const char* a4,
                            const char* a5, const char* a6, const char* a7);
int32_t ZDB_CALL Z_DelFXREF(const char* a1, const char* a2, const char* a3, const char* a4);
int32_t ZDB_CALL Z_DelTXREF(const char* a1, const char* a2, const char* a3, const char* a4);
int32_t ZDB_CALL Z_XRefFromField(char* field, void* xrefs, int32_t* n);          /* 29700 bytes */
int32_t ZDB_CALL Z_XRefToField(char* field, void* xrefs, int32_t* n);            /* 29700 bytes */
int32_t ZDB_CALL Z_GetTXREF(char* a1, char* a2, char* a3, char* a4, void* xref); /* 297 */
int32_t ZDB_CALL Z_GetFXREF(char* a1, char* a2, char* a3, char* a4, void* xref); /* 297 */
int32_t ZDB_CALL Z_DelXREF(const char* a1);
int32_t ZDB_CALL Z_TBRefFrom(void* refs);         /* 3304 bytes */
int32_t ZDB_CALL Z_TBRefTo(void* refs);           /* 3304 bytes */
int32_t ZDB_CALL Z_GetXRef(char* a1, void* xref); /* 671 bytes */
/* users and privileges */
int32_t ZDB_CALL Z_ValidUser(const char* a1, const char* a2, const char* a3);
int32_t ZDB_CALL Z_ReadUser(char* a1, char* a2, void* user); /* 10000 bytes */
int32_t ZDB_CALL Z_AddUser(const char* a1, const char* a2, const char* a3);
int32_t ZDB_CALL Z_DelUser(const char* a1, const char* a2, const char* a3);
int32_t ZDB_CALL Z_UpdUser(const char* a1, const char* a2, const char* a3, const char* a4);
int32_t ZDB_CALL Z_NumUsers(char* a1, int32_t* n1, int32_t* n2);
int32_t ZDB_CALL Z_GetUsers(char* a1, int32_t count, char* users); /* count x 65 bytes */
int32_t ZDB_CALL Z_CFUsers(const char* a1);
int32_t ZDB_CALL Z_DFUsers(const char* a1);
int32_t ZDB_CALL Z_Grant(const char* a1, const char* a2, const char* a3, const char* a4,
                         int32_t privileges);
int32_t ZDB_CALL Z_Revoke(const char* a1, const char* a2, const char* a3, const char* a4,
                          int32_t privileges);
/* the answer is the ResultCode itself */
int32_t ZDB_CALL Z_IsAuthorizated(const char* a1, const char* a2, const char* a3, const char* a4,
                                  int32_t privileges);
int32_t ZDB_CALL Z_TBGrantAll(const char* a1, const char* a2, int32_t privileges);
int32_t ZDB_CALL Z_TBRevokeAll(const char* a1, const char* a2, int32_t privileges);
int32_t ZDB_CALL Z_UsrGrantAll(const char* a1, const char* a2, const char* a3, int32_t privileges);
int32_t ZDB_CALL Z_UsrRevokeAll(const char* a1, const char* a2, const char* a3, int32_t privileges);
int32_t ZDB_CALL Z_NumUsrPerTB(char* a1, char* a2, int32_t* n1, int32_t* n2);
int32_t ZDB_CALL Z_NumTBPerUser(char* a1, char* a2, char* a3, int32_t* n1, int32_t* n2);
int32_t ZDB_CALL Z_UsrPerTable(char* a1, char* a2, char* users, int32_t count); /* x 65 */
int32_t ZDB_CALL Z_TablesPerUser(char* a1, char* a2, char* a3, char* tables,
                                 int32_t count); /* count x 33 bytes */
int32_t ZDB_CALL Z_TBDeleteAll(const char* a1, const char* a2);
int32_t ZDB_CALL Z_GetAccounts(void* accounts, int32_t count); /* count x 12 bytes */
int32_t ZDB_CALL Z_GetPrivileges(char* a1, char* a2, char* a3, char* a4, int32_t* privileges);
/* run sessions and other requests */
int32_t ZDB_CALL Z_Run(const char* user, const char* password, void* data, int32_t length,
                       int32_t* counter);
int32_t ZDB_CALL Z_NoRun(void* data, int32_t length);
int32_t ZDB_CALL Z_Internal(int32_t value, void* in, int32_t inLength, void* out,
                            int32_t outLength);
int32_t ZDB_CALL Z_CurrentKey(void* key, int32_t length);
int32_t ZDB_CALL Z_FsfToZdb(void* fsf, int32_t v1, int32_t v2, char* a4); /* 1500 bytes */
int32_t ZDB_CALL Z_Create(const char* a1, int32_t v1, int32_t v2);
/* name (64 bytes) and n may be null */
int32_t ZDB_CALL Z_Exist(char* a1, char* name, int32_t* n);
int32_t ZDB_CALL Z_ExpCheck(const char* a1, const char* a2);
int32_t ZDB_CALL Z_GetSelector(void* selector, void* value);                 /* 508 and 2 bytes */
int32_t ZDB_CALL Z_LastUpdate(char* a1, char* date, char* time, void* flag); /* 11, 9, 2 */

/* ---- SQL scripts, database export and import ------------------------------------------------ */
/* Runs a script (inline when it starts with "#", else a local file name) with "&N" references
 * replaced from "&1=value;&2=value"; the server's result lands in outputFile. Local paths hold
 * at most 255 characters. */
int32_t ZDB_CALL ZDB_SqlRun(const char* script, const char* outputFile, const char* parameters,
                            int32_t runValue);
int32_t ZDB_CALL Z_ExportDB(const char* first, const char* second, const char* localPath);
int32_t ZDB_CALL Z_ImportDB(const char* first, const char* second, const char* sendPath,
                            const char* receivePath);

#ifdef __cplusplus
}
#endif

#endif /* ZDB_API_H */
