/**
 * @file zdb_api.h
 * @brief zdb_api: the client library of the ZDB database server.
 *
 * Every function returns a 32-bit ResultCode, #ZDB_OK (1000) on success, unless its comment
 * says otherwise. The codes the library produces itself are the ZDB_ERR_ and ZDB_PROBE_
 * constants below; any other value is the server's status for the request, whose text
 * ZDB_GetError() asks the server for (docs/server.md lists zdbd's codes, 4001 to 4112).
 *
 * Rules that hold for every request function unless its comment says otherwise:
 * - **One session per thread.** ZDB_SelHost() creates the calling thread's session; every
 *   other function works on that session and returns 2001 (#ZDB_ERR_COMMUNICATION) at once
 *   when the thread has none. Threads never share a session: each thread selects its host.
 * - **Implicit login.** A request on a session that is not logged in first logs in with an
 *   empty user name and password. When that login fails, the request is not sent and the
 *   login's code is returned.
 * - **2001** also stands for every transport failure (connection refused or lost, short reply).
 * - **Writable texts.** Requests that answer with data send every text and buffer argument and
 *   then overwrite it with the server's bytes for it, texts included; such arguments are not
 *   `const` and must point to writable memory of the stated size. Requests that answer only
 *   with a status change no caller memory.
 * - Texts are zero-terminated 8-bit strings. Names of tables and fields have at most 32
 *   characters, database names at most 8; letter case counts.
 * - Every call blocks until the server answers; TCP requests have no time-out, UDP waits last
 *   2 seconds.
 *
 * The record layouts (field definition, field descriptor, table, database, constraint and
 * cross-reference records) are described byte by byte in docs/records.md; the ZDB_FD_, ZDB_DESC_,
 * ZDB_TREC_ and ZDB_DBREC_ offsets below name their fields.
 */
#ifndef ZDB_API_H
#define ZDB_API_H

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
/* after windows.h, which it needs */
#include <oleauto.h>
#endif

/** The calling convention of the exports: callee-cleans (stdcall) on 32-bit x86, as the 32-bit
 * DLL has it, Windows or not; the default elsewhere. GCC and Clang give it to i386 ELF code too,
 * where the symbol names stay plain. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZDB_CALL __stdcall
#elif defined(__i386__) && (defined(__GNUC__) || defined(__clang__))
#define ZDB_CALL __attribute__((stdcall))
#else
#define ZDB_CALL
#endif

/** @name ResultCodes produced by the library (any other value is the server's status) */
/** @{ */
#define ZDB_UDP_FAILURE 0 /**< UDP: socket failure (see ZDB_TCPError); discovery: none found */
#define ZDB_OK 1000       /**< success */
#define ZDB_ERR_COMMUNICATION 2001    /**< no session, transport failure, bad host, cache full */
#define ZDB_ERR_ARGUMENT 2003         /**< bad argument, array or unresolved script parameter */
#define ZDB_ERR_NO_MEMORY 2004        /**< memory could not be allocated */
#define ZDB_ERR_NO_FIELD 2013         /**< none of the listed fields is defined */
#define ZDB_ERR_CONNECT 2016          /**< the TCP connection could not be established */
#define ZDB_ERR_NO_DATABASE 2021      /**< no database selected */
#define ZDB_ERR_TEMP_FILE 2120        /**< a script run's file could not be named or opened */
#define ZDB_PROBE_ANSWERED 2600       /**< the server answered the probe */
#define ZDB_PROBE_SILENT 2601         /**< no answer (or no stop acknowledgement) in 2 seconds */
#define ZDB_STOP_STILL_RUNNING 2605   /**< stop acknowledged but the server still answers */
#define ZDB_STOP_DONE 2606            /**< the server has stopped */
#define ZDB_ERR_VERSION 2700          /**< the server's version is not accepted */
#define ZDB_ERR_SCRIPT_ARGUMENTS 3003 /**< ZDB_SqlRun() without a script or output file */
/** @} */

/** @name Sizes of the buffers and records that callers pass, in bytes */
/** @{ */
#define ZDB_FIELD_DEF_SIZE 43          /**< one field definition (Z_InfoFields(), whole records) */
#define ZDB_FIELD_DEF_MAX 300          /**< field definitions in a list */
#define ZDB_FIELD_DEF_LIST_SIZE 12900  /**< #ZDB_FIELD_DEF_MAX x #ZDB_FIELD_DEF_SIZE */
#define ZDB_FIELD_DESCRIPTOR_SIZE 132  /**< Z_AddField(), Z_UpdField(), Z_GetField() */
#define ZDB_TABLE_RECORD_SIZE 113      /**< Z_CreTable(), Z_UpdTable(), Z_GetTable() */
#define ZDB_DATABASE_RECORD_SIZE 773   /**< Z_GetDataBase() */
#define ZDB_CONSTRAINT_RECORD_SIZE 364 /**< Z_AddConstrain(), Z_UpdConstrain(), ... */
#define ZDB_XREF_RECORD_SIZE 297       /**< Z_GetFXREF(), Z_GetTXREF() */
#define ZDB_DATABASE_NAME_SIZE 9       /**< a database name: 8 characters and a zero */
#define ZDB_TABLE_NAME_SIZE 33         /**< a table or field name: 32 characters and a zero */
#define ZDB_USER_NAME_SIZE 65          /**< one entry of Z_GetUsers() and Z_UsrPerTable() */
#define ZDB_ACCOUNT_SIZE 12            /**< one entry of Z_GetAccounts() */
#define ZDB_ERROR_TEXT_SIZE 129        /**< ZDB_GetError(), Z_GetError() */
#define ZDB_HOST_TEXT_SIZE 257         /**< ZDB_GetHost() */
#define ZDB_DEFAULT_VALUE_SIZE 513     /**< Z_GetDefaultValue(), Z_GetField()'s description */
#define ZDB_RECORD_VALUES_MAX 300      /**< elements of a whole-record value array */
#define ZDB_DEFAULT_PORT 2500          /**< the server's port when a host text names none */
/** @} */

/** @name The size argument of the single-field calls (a uint32_t) */
/** @{ */
#define ZDB_SIZE_FROM_DEFINITION 0xFFFFFFFFu /**< -1: the library sizes the value */
#define ZDB_SIZE_LIBRARY_BUFFER 0xFFFFFFFEu  /**< -2: read into a buffer of the library's own */
/** @} */

/** @name Connection modes of ZDB_Connection() */
/** @{ */
#define ZDB_CONNECTION_PER_REQUEST 0 /**< default: one TCP connection per request */
#define ZDB_CONNECTION_HELD 1        /**< one connection from login to logout */
#define ZDB_CONNECTION_HELD_ALT 2 /**< the same as 1 for this library; sent as a bit of its own */
/** @} */

/** @name Privilege bits (Z_Grant(), Z_Revoke(), Z_IsAuthorizated(), ...) */
/** @{ */
#define ZDB_PRIV_READ 1   /**< read records */
#define ZDB_PRIV_CHANGE 2 /**< append, write, delete and lock records */
#define ZDB_PRIV_DEFINE 4 /**< define tables, fields and indexes; run scripts */
#define ZDB_PRIV_ALL 7    /**< every bit */
/** @} */

/** @name Field type and subtype letters (field definitions and descriptors) */
/** @{ */
#define ZDB_TYPE_TEXT 'C'       /**< text of a width */
#define ZDB_TYPE_NUMBER 'N'     /**< number: an 8-byte double as a single-field value */
#define ZDB_TYPE_INTEGER 'I'    /**< integer: a 2-byte integer as a single-field value */
#define ZDB_SUBTYPE_NUMERIC 'N' /**< numeric text: an 8-byte double as a single-field value */
#define ZDB_SUBTYPE_DATE 'D'    /**< date YYYY-MM-DD, 10 characters */
#define ZDB_SUBTYPE_MEMO 'M'    /**< memo: text of any length (255 in record buffers) */
#define ZDB_SUBTYPE_BINARY 'B'  /**< binary (255 in record buffers) */
/** @} */

/** @name Field definition (43 bytes, #ZDB_FIELD_DEF_SIZE): byte offsets */
/** @{ */
#define ZDB_FD_NAME 0     /**< 33: name padded with spaces to 32 characters, then a zero */
#define ZDB_FD_TYPE 33    /**< 1: type letter (ZDB_TYPE_) */
#define ZDB_FD_SUBTYPE 34 /**< 1: subtype letter (ZDB_SUBTYPE_ or another) */
#define ZDB_FD_WIDTH 35   /**< 4: width, unsigned 32-bit little-endian */
#define ZDB_FD_EXTRA 39   /**< 4: the server's; carried unchanged (zdbd: zero) */
/** @} */

/** @name Field descriptor (132 bytes, #ZDB_FIELD_DESCRIPTOR_SIZE): byte offsets */
/** @{ */
#define ZDB_DESC_NAME 0            /**< 33: name, zero-terminated */
#define ZDB_DESC_DESCRIPTION 33    /**< 66: description, zero-terminated */
#define ZDB_DESC_SUBTYPE 99        /**< 1: subtype letter */
#define ZDB_DESC_TYPE 100          /**< 1: type letter */
#define ZDB_DESC_WIDTH 101         /**< 4: width, unsigned 32-bit little-endian */
#define ZDB_DESC_STORAGE_WIDTH 105 /**< 4: bytes of a single-field value, unsigned 32-bit */
/** @} */

/** @name Table record (113 bytes, #ZDB_TABLE_RECORD_SIZE): byte offsets */
/** @{ */
#define ZDB_TREC_NAME 0           /**< 33: table name, zero-terminated */
#define ZDB_TREC_DESCRIPTION 33   /**< 64: description, zero-terminated */
#define ZDB_TREC_RECORDS 97       /**< 4: number of records, 32-bit little-endian */
#define ZDB_TREC_FIELDS 101       /**< 4: number of fields */
#define ZDB_TREC_RECORD_WIDTH 105 /**< 4: record width, the sum of every width + 1 */
/** @} */

/** @name Database record (773 bytes, #ZDB_DATABASE_RECORD_SIZE): byte offsets */
/** @{ */
#define ZDB_DBREC_TABLES 0 /**< 4: number of tables, 32-bit little-endian */
#define ZDB_DBREC_NAME 5   /**< 256: database name, zero-terminated */
#define ZDB_DBREC_PATH 261 /**< 512: the server's path of the database file, zero-terminated */
/** @} */

/**
 * Reads the unsigned 32-bit little-endian number at @p offset of a record.
 * @param record a field definition, descriptor or catalog record
 * @param offset one of the offsets above, e.g. #ZDB_DESC_WIDTH
 * @return the number
 */
static inline uint32_t zdb_record_u32(const void* record, unsigned offset) {
  const unsigned char* p = (const unsigned char*)record + offset;
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/**
 * Writes @p value as an unsigned 32-bit little-endian number at @p offset of a record.
 * @param record a field definition, descriptor or catalog record
 * @param offset one of the offsets above, e.g. #ZDB_DESC_WIDTH
 * @param value the number
 */
static inline void zdb_record_put_u32(void* record, unsigned offset, uint32_t value) {
  unsigned char* p = (unsigned char*)record + offset;
  p[0] = (unsigned char)value;
  p[1] = (unsigned char)(value >> 8);
  p[2] = (unsigned char)(value >> 16);
  p[3] = (unsigned char)(value >> 24);
}

/* ---- Automation arrays ---------------------------------------------------------------------
 * On Windows these are OLE Automation's own types and functions. Elsewhere the library exports
 * a layout-compatible stand-in: a BSTR points just past a 32-bit byte length and is followed by
 * two zero bytes; a SAFEARRAY has one bound per dimension, the last dimension's bound first.
 * The stand-in's exported names carry the prefix zdb_ so that they cannot clash with another
 * library of the same process that exports the generic names; the macros below map the generic
 * names onto them, so that code written for Windows compiles unchanged. Define
 * ZDB_NO_AUTOMATION_NAMES before including this header to get the zdb_ names alone (for
 * example next to another header that declares SAFEARRAY or SafeArrayCreate). */
#ifdef _WIN32
typedef SAFEARRAY zdb_SAFEARRAY;
typedef BSTR zdb_BSTR;
#else
/** @name Automation stand-in (systems other than Windows) */
/** @{ */
typedef uint16_t zdb_OLECHAR;  /**< a character of an Automation string */
typedef zdb_OLECHAR* zdb_BSTR; /**< points just past a 32-bit byte length; two zeros follow */
typedef int32_t zdb_HRESULT;   /**< 0 for success, negative for failure */
typedef uint16_t zdb_VARTYPE;  /**< element type of an array */
#define ZDB_VT_BSTR 8 /**< element type: BSTR */
/** One dimension's bounds. */
typedef struct zdb_tagSAFEARRAYBOUND {
  uint32_t cElements; /**< number of elements */
  int32_t lLbound;    /**< lowest index */
} zdb_SAFEARRAYBOUND;
/** An Automation array. */
typedef struct zdb_tagSAFEARRAY {
  uint16_t cDims;                  /**< number of dimensions */
  uint16_t fFeatures;              /**< 0x0100: elements are BSTRs the array owns */
  uint32_t cbElements;             /**< bytes of one element */
  uint32_t cLocks;                 /**< lock count; a locked array cannot be destroyed */
  void* pvData;                    /**< the elements */
  zdb_SAFEARRAYBOUND rgsabound[1]; /**< bounds, the last dimension's first */
} zdb_SAFEARRAY;
/** @} */

#ifndef ZDB_NO_AUTOMATION_NAMES
/** @name Generic Automation names (unless ZDB_NO_AUTOMATION_NAMES is defined)
 * Each stands for the zdb_ name of the same spelling. */
/** @{ */
typedef zdb_OLECHAR OLECHAR;               /**< generic name */
typedef zdb_BSTR BSTR;                     /**< generic name */
typedef zdb_HRESULT HRESULT;               /**< generic name */
typedef zdb_VARTYPE VARTYPE;               /**< generic name */
typedef zdb_SAFEARRAYBOUND SAFEARRAYBOUND; /**< generic name */
typedef zdb_SAFEARRAY SAFEARRAY;           /**< generic name */
#define VT_BSTR ZDB_VT_BSTR                             /**< generic name */
#define SafeArrayCreate zdb_SafeArrayCreate             /**< generic name */
#define SafeArrayDestroy zdb_SafeArrayDestroy           /**< generic name */
#define SafeArrayGetElement zdb_SafeArrayGetElement     /**< generic name */
#define SafeArrayPutElement zdb_SafeArrayPutElement     /**< generic name */
#define SafeArrayGetDim zdb_SafeArrayGetDim             /**< generic name */
#define SafeArrayGetLBound zdb_SafeArrayGetLBound       /**< generic name */
#define SafeArrayGetUBound zdb_SafeArrayGetUBound       /**< generic name */
#define SysAllocStringByteLen zdb_SysAllocStringByteLen /**< generic name */
#define SysFreeString zdb_SysFreeString                 /**< generic name */
#define SysStringByteLen zdb_SysStringByteLen           /**< generic name */

/** @} */
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifndef _WIN32
/** @name Automation stand-in functions (systems other than Windows; generic names by macro) */
/** @{ */
/**
 * Creates an array with zeroed elements.
 * @param vt element type: #ZDB_VT_BSTR, 2 or 11 (2 bytes), 3 or 4 (4 bytes), 5 (8), 17 (1)
 * @param cDims number of dimensions, at least 1
 * @param rgsabound @p cDims bounds, the first dimension's first
 * @return the array (free it with zdb_SafeArrayDestroy()), or null
 */
zdb_SAFEARRAY* zdb_SafeArrayCreate(zdb_VARTYPE vt, uint32_t cDims, zdb_SAFEARRAYBOUND* rgsabound);
/**
 * Frees an array and, for BSTR arrays, every element.
 * @param psa the array
 * @return 0, or a negative code for a null or locked array
 */
zdb_HRESULT zdb_SafeArrayDestroy(zdb_SAFEARRAY* psa);
/**
 * Copies one element out; a BSTR element comes back as a new copy the caller frees.
 * @param psa the array
 * @param rgIndices one index per dimension
 * @param pv receives the element (a zdb_BSTR for BSTR arrays)
 * @return 0, or a negative code for a bad index or argument
 */
zdb_HRESULT zdb_SafeArrayGetElement(zdb_SAFEARRAY* psa, int32_t* rgIndices, void* pv);
/**
 * Stores one element; a BSTR is copied (the array frees the copy it replaces).
 * @param psa the array
 * @param rgIndices one index per dimension
 * @param pv the element: for BSTR arrays the zdb_BSTR itself, else a pointer to the value
 * @return 0, or a negative code for a bad index or argument
 */
zdb_HRESULT zdb_SafeArrayPutElement(zdb_SAFEARRAY* psa, int32_t* rgIndices, void* pv);
/**
 * @param psa the array
 * @return its number of dimensions (0 for null)
 */
uint32_t zdb_SafeArrayGetDim(zdb_SAFEARRAY* psa);
/**
 * @param psa the array
 * @param nDim dimension, from 1
 * @param plLbound receives the lowest index
 * @return 0, or a negative code for a bad dimension
 */
zdb_HRESULT zdb_SafeArrayGetLBound(zdb_SAFEARRAY* psa, uint32_t nDim, int32_t* plLbound);
/**
 * @param psa the array
 * @param nDim dimension, from 1
 * @param plUbound receives the highest index
 * @return 0, or a negative code for a bad dimension
 */
zdb_HRESULT zdb_SafeArrayGetUBound(zdb_SAFEARRAY* psa, uint32_t nDim, int32_t* plUbound);
/**
 * Makes a byte string of @p len bytes (copied from @p psz when it is not null).
 * @param psz the bytes, or null for zeros
 * @param len number of bytes
 * @return the string (free it with zdb_SysFreeString()), or null
 */
zdb_BSTR zdb_SysAllocStringByteLen(const char* psz, uint32_t len);
/**
 * Frees a string; null is allowed.
 * @param bstr the string
 */
void zdb_SysFreeString(zdb_BSTR bstr);
/**
 * @param bstr the string
 * @return its length in bytes (0 for null)
 */
uint32_t zdb_SysStringByteLen(zdb_BSTR bstr);
/** @} */
#endif

/* ==== Host selection, login and session control ============================================ */

/**
 * Creates the calling thread's session for a server that answers the probe: a 6-byte UDP
 * datagram to the host's port, answered within 2 seconds. Neither connects over TCP nor logs
 * in. On success an earlier session of the thread is replaced (logged out first).
 * @param host a host name or dotted IPv4 address, optionally followed by ":" and a port
 *             (#ZDB_DEFAULT_PORT otherwise), e.g. "127.0.0.1:2500"; at most 256 characters
 * @return #ZDB_OK; 2001 for a null, empty or too long text or an unknown host name (the
 *         thread's earlier session stays); 2004 no memory; 2601 no server answered
 */
int32_t ZDB_CALL ZDB_SelHost(const char* host);
/**
 * Logs in. Both texts pass through the server character set. On a session that is already
 * logged in (also implicitly) it returns #ZDB_OK at once without looking at the arguments.
 * After a successful login the field-definition cache is empty and the server's version is
 * checked (see ZDB_GetVersion()).
 * @param user user name ("" while the server has no users)
 * @param password password ("" likewise)
 * @return #ZDB_OK; 2001, 2004, 2016 could not connect, 2700 version refused (the session stays
 *         logged in), or the server's status (zdbd: 4004 refused, 4110 its session limit is
 *         reached: retry once sessions end)
 */
int32_t ZDB_CALL ZDB_Init(const char* user, const char* password);
/**
 * Asks the server for its protocol version word. Logs in implicitly.
 * @param version sent and overwritten: receives the version; bits 8-15 are 0x12 for a server
 *                this library accepts (zdbd: 0x1210)
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL ZDB_GetVersion(uint32_t* version);
/**
 * Logs out. The session stays selected: a later request logs in again (implicitly with empty
 * credentials). A session that never logged in is first logged in and then logged out.
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL ZDB_Finish(void);
/**
 * Chooses the connection mode; only before the login (ZDB_Init() or the first request).
 * @param mode #ZDB_CONNECTION_HELD (1) or #ZDB_CONNECTION_HELD_ALT (2): one TCP connection from
 *             the login to the logout; anything else (#ZDB_CONNECTION_PER_REQUEST): a connection
 *             per request (the default). Only the low byte counts.
 * @return #ZDB_OK; 2001 while logged in (nothing changes) or without a session
 */
int32_t ZDB_CALL ZDB_Connection(int32_t mode);
/**
 * Sets three characters carried in the header of every later request (bytes 13-15; defaults
 * 0x00, 0x20, 0x00). Nothing is sent now; zdbd does not read them.
 * @param chars 3 bytes (no terminator needed)
 * @return #ZDB_OK, or 2001 without a session
 */
int32_t ZDB_CALL SetConnectionOptions(const char* chars);
/**
 * Copies the session's host (the name or address, without ":port"). Nothing is sent.
 * @param buffer receives the host text: #ZDB_HOST_TEXT_SIZE (257) bytes
 * @return #ZDB_OK, or 2001 without a session or host
 */
int32_t ZDB_CALL ZDB_GetHost(char* buffer);
/**
 * Asks the server for the text of a ResultCode (the library's own codes included). Logs in
 * implicitly. The buffer is converted from the server character set even when the request
 * fails.
 * @param code the ResultCode
 * @param text sent and overwritten: #ZDB_ERROR_TEXT_SIZE (129) bytes, receives the text
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL ZDB_GetError(uint32_t code, char* text);
/**
 * The same as ZDB_GetError().
 * @param code the ResultCode
 * @param text sent and overwritten: #ZDB_ERROR_TEXT_SIZE (129) bytes, receives the text
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL Z_GetError(uint32_t code, char* text);
/**
 * Describes the socket error of the session's last exchange, as "(N) WinSock Error !" (N is
 * the system's error number: errno on Linux). Nothing is sent.
 * @param buffer receives the text: 32 bytes are enough
 * @return not a ResultCode: the error number, 0 when the last exchange completed (2001
 *         without a session)
 */
int32_t ZDB_CALL ZDB_TCPError(char* buffer);

/* ==== Probe, discovery and stop over UDP ===================================================== */

/**
 * Probes a server over UDP; does not log in. Needs a session (of any host).
 * @param host as for ZDB_SelHost()
 * @return 2600 (#ZDB_PROBE_ANSWERED), 2601 no answer in 2 seconds, 2001 bad host text or no
 *         session, 0 socket error (see ZDB_TCPError())
 */
int32_t ZDB_CALL ZDB_IsActive(const char* host);
/**
 * Asks a server to stop: probes it, sends the stop datagram, waits for the acknowledgement and
 * probes again. zdbd obeys only stops from its own machine. Needs a session.
 * @param host as for ZDB_SelHost()
 * @return 2606 stopped, 2605 acknowledged but still answering, 2601 no answer or no
 *         acknowledgement, 2001 bad host text or no session, 0 socket error
 */
int32_t ZDB_CALL ZDB_Stop(const char* host);
/**
 * Finds the servers of the local networks by a UDP broadcast; waits until 2 seconds pass
 * without an answer or @p max servers answered. Sends to every local network: use it only
 * where that is wanted. Works without a session too.
 * @param list @p max text pointers, each null or left by an earlier call (those are freed
 *             first); receives one malloc'd text per server, "NAME,ADDRESS,VVV-PPPPP,SS"
 *             (the server's name, its address, protocol version, port and sessions), freed by
 *             the next call with the same array
 * @param max entries of @p list
 * @param port the servers' port; 0 for #ZDB_DEFAULT_PORT
 * @return not a ResultCode: the number of servers found; 0 none or a socket error; 2001 when
 *         no temporary session could be made
 */
int32_t ZDB_CALL ZDB_GetServers(char** list, int32_t max, int32_t port);
/**
 * ZDB_GetServers() into an Automation array of BSTRs.
 * @param list the array reference; a null array is created with @p max elements, else the
 *             array must be one-dimensional; receives one BSTR per server
 * @param max servers to wait for at most
 * @param port the servers' port; 0 for #ZDB_DEFAULT_PORT
 * @return the number of servers found, or 0, 2001, 2003 (bad array), 2004
 */
int32_t ZDB_CALL DB_GetServers(zdb_SAFEARRAY** list, int32_t max, int32_t port);

/* ==== Databases and tables in use =========================================================== */

/**
 * Puts an existing database in use for this session and records it in the field-definition
 * cache (at most five databases in use).
 * @param database database name, at most 8 characters
 * @return #ZDB_OK; 2003 name too long; 2001 cache full; server: 4011 unknown
 */
int32_t ZDB_CALL ZDB_UseDB(const char* database);
/**
 * Gives up a database in use: zdbd rolls back its transaction, releases this session's locks in
 * it and closes its tables; the cache forgets it.
 * @param database database name
 * @return #ZDB_OK, 2003 name too long, 2001, or 4015 (not in use)
 */
int32_t ZDB_CALL ZDB_UnUseDB(const char* database);
/**
 * Makes a database in use the selected one, for the server and for the cache.
 * @param database database name
 * @return #ZDB_OK, 2003, 2001; server: 4015 not in use, 4011 unknown
 */
int32_t ZDB_CALL ZDB_SelDB(const char* database);
/**
 * Asks for the selected database's name.
 * @param database sent and overwritten: #ZDB_DATABASE_NAME_SIZE (9) bytes
 * @return #ZDB_OK, 2001; server: 4010 none selected (and an empty text)
 */
int32_t ZDB_CALL ZDB_GetDB(char* database);
/**
 * Opens a table of the selected database; its first record becomes current.
 * @param table table name, or an alias (see ZDB_Alias()), under which the table is then open
 * @param second sent as it is; zdbd does not read it (pass "")
 * @param third sent as it is; zdbd does not read it (pass "")
 * @return #ZDB_OK, 2001; server: 4021 unknown table, 4010 no database
 */
int32_t ZDB_CALL ZDB_OpenTable(const char* table, const char* second, const char* third);
/**
 * Closes an open table: zdbd releases this session's locks on it; the cache drops its field
 * definitions.
 * @param table table name, at most 32 characters
 * @return #ZDB_OK, 2003, 2001; server: 4024 not open
 */
int32_t ZDB_CALL ZDB_CloseTable(const char* table);
/**
 * Makes an open table the selected one and, the first time, loads its field definitions into
 * the cache (at most 25 tables per database). Field calls then need no definition request.
 * @param table table name, at most 32 characters
 * @param second sent as it is; zdbd does not read it (pass "")
 * @return #ZDB_OK, 2003, 2001 (also: cache full), 2021 no database selected; server: 4024
 */
int32_t ZDB_CALL ZDB_SelTable(const char* table, const char* second);
/**
 * Asks for the selected table's name.
 * @param table sent and overwritten: #ZDB_TABLE_NAME_SIZE (33) bytes
 * @return #ZDB_OK, 2001; server: 4020 none selected
 */
int32_t ZDB_CALL ZDB_GetTable(char* table);
/**
 * Defines or deletes an alias: a second name of a table of the selected database, stored in the
 * database. ZDB_OpenTable() with the alias opens the table under that name with a current
 * record of its own; selecting, reading, writing, locks and the field requests then work on the
 * table, with the table's privileges, and "ALIAS.FIELD" names its fields. Z_TableAlias() lists
 * the aliases.
 * @param alias the alias's name (a table name: 1 to 32 characters); an alias of that name is
 *              replaced
 * @param table the table it names; "" deletes the alias (entries already open under it stay
 *              open)
 * @param description the alias's description
 * @return #ZDB_OK, 2001; server: 4021 unknown table, 4022 a table has the alias's name, 4023
 *         bad name, 4045 no alias to delete, 4005
 */
int32_t ZDB_CALL ZDB_Alias(const char* alias, const char* table, const char* description);
/**
 * Copies field definitions of the selected table: from the cache while the table is selected
 * and cached (nothing is sent), else from the server.
 * @param fieldList "*" for all fields (any text starting with "*"), else names separated by
 *                  ","; writable: when the server is asked it is sent and overwritten
 * @param fieldDefs receives #ZDB_FIELD_DEF_LIST_SIZE (12900) bytes: #ZDB_FIELD_DEF_SIZE-byte
 *                  definitions in list order, ended by one whose name starts with a zero
 * @return #ZDB_OK, 2013 none of the fields defined, 2001; server: 4030, 4020
 */
int32_t ZDB_CALL Z_InfoFields(char* fieldList, void* fieldDefs);

/* ==== Locks ================================================================================== */

/**
 * Locks a database for this session; others' changes to it are refused (4052).
 * @param database database name; "" for the selected one
 * @return #ZDB_OK, 2001; server: 4052 held by another session
 */
int32_t ZDB_CALL ZDB_DBLock(const char* database);
/**
 * Releases this session's database lock.
 * @param database database name; "" for the selected one
 * @return #ZDB_OK, 2001; server: 4053 not held by this session
 */
int32_t ZDB_CALL ZDB_DBUnLock(const char* database);
/**
 * Asks whether a database is locked; the answer is the code.
 * @param database database name; "" for the selected one
 * @return #ZDB_OK unlocked, 4052 locked by another session, 4056 by this one; 2001
 */
int32_t ZDB_CALL ZDB_DBIsLock(const char* database);
/**
 * Locks an open table for this session; release it with ZDB_RecUnLock("*").
 * @param table table name; "" for the selected one
 * @return #ZDB_OK, 2001; server: 4051 held by another session
 */
int32_t ZDB_CALL ZDB_LockTable(const char* table);
/**
 * Makes current the first record (lowest number) whose field equals the value; texts compare
 * exactly after trailing spaces are dropped, numbers as numbers.
 * @param field field name of the selected table
 * @param value the value as text
 * @return #ZDB_OK, 2001; server: 4041 none (the current record stays), 4030
 */
int32_t ZDB_CALL ZDB_Seek(const char* field, const char* value);
/**
 * Moves the current record, optionally locking it.
 * @param mode "FIRST", "NEXT" (or ""), "PRIOR", "LAST", "CURRENT" (or their first letters), or
 *             a record number; letter case is ignored
 * @param option "" or "LOCK" ("L"): also lock the record
 * @return #ZDB_OK, 2001; server: 4042 beyond either end, 4041 no such record, 4050 locked by
 *         another session (the record stays where it was), 4002 unknown mode
 */
int32_t ZDB_CALL ZDB_Read(const char* mode, const char* option);
/**
 * Appends a record with every field null but those with a default value (Z_PutDefaultValue()),
 * which receive it; it becomes current.
 * @return #ZDB_OK, 2001 or the server's status (4051/4052 locked, 4005, 4034 a default breaks
 *         a constraint: no record is appended)
 */
int32_t ZDB_CALL ZDB_AppendBlank(void);
/**
 * Confirms the current record. zdbd stores changes as they are made.
 * @return #ZDB_OK, 2001; server: 4040 no current record
 */
int32_t ZDB_CALL ZDB_Write(void);
/**
 * Deletes a record; the next one becomes current. Records of other tables that point at it
 * through a cross reference follow the reference's rule: RESTRICT refuses, CASCADE deletes them
 * too, NULLIFY empties their field.
 * @param record "" for the current record, else a record number
 * @return #ZDB_OK, 2001; server: 4041 no such record, 4050 locked, 4038 a RESTRICT reference
 *         still points at it
 */
int32_t ZDB_CALL ZDB_Delete(const char* record);
/**
 * Releases record locks of this session.
 * @param record "" the current record, a record number, or "*" every record lock and the table
 *               lock on the selected table
 * @return #ZDB_OK, 2001; server: 4053 not held
 */
int32_t ZDB_CALL ZDB_RecUnLock(const char* record);
/**
 * Asks who holds a lock.
 * @param what sent and overwritten: "" the current record, a record number, "T:table" or
 *             "D:database"; the reply returns the text it was sent
 * @param holder sent and overwritten: #ZDB_TABLE_NAME_SIZE (33) bytes, receives
 *               "user#HANDLE" ("anonymous" for a session without a user)
 * @return #ZDB_OK, 2001; server: 4053 not locked (empty holder)
 */
int32_t ZDB_CALL ZDB_WhoLock(char* what, char* holder);

/* ==== Transactions =========================================================================== */

/**
 * Begins a transaction on the selected database. Its changes stay invisible to other sessions
 * until committed; while it holds changes, other sessions' changes fail after 200 ms (4054; over
 * PostgreSQL only changes to the same records).
 * @return #ZDB_OK, 2001; server: 4061 one is open, 4010 no database
 */
int32_t ZDB_CALL ZDB_BeginTransaction(void);
/**
 * Commits and ends the transaction.
 * @return #ZDB_OK, 2001; server: 4060 none open, 4054 busy
 */
int32_t ZDB_CALL ZDB_EndTransaction(void);
/**
 * Asks whether a transaction is open.
 * @param status sent and overwritten: receives 1 while one is open, else 0
 * @return #ZDB_OK, 2001
 */
int32_t ZDB_CALL ZDB_TRStatus(int32_t* status);
/**
 * Commits and begins the next transaction at once.
 * @return #ZDB_OK, 2001 or the server's status
 */
int32_t ZDB_CALL ZDB_Commit(void);
/**
 * Discards the transaction's changes and ends it.
 * @return #ZDB_OK, 2001; server: 4060 none open
 */
int32_t ZDB_CALL ZDB_RollBack(void);

/* ==== Table maintenance ====================================================================== */

/**
 * Backs a table up into a file on the server (zdbd: DIR/backups/FILE, an SQLite file holding
 * the table's fields, records with their numbers, constraints, defaults and indexes). An
 * existing file of that name is replaced whole.
 * @param table the table; "" for the selected one
 * @param file the backup file's name on the server: 1 to 64 letters, digits, "_", "-", ".",
 *             not starting with "."
 * @return #ZDB_OK, 2001; server: 4021 unknown table, 4091 bad file name, 4005
 */
int32_t ZDB_CALL ZDB_BackupTable(const char* table, const char* file);
/**
 * Restores a table of the selected database from a backup file on the server (see
 * ZDB_BackupTable()): the table of that name is replaced, or created, with the fields, records,
 * constraints, defaults and indexes backed up, all or nothing. Cross references touching it stay
 * where their fields still exist. This session's entries of the table lose their current record.
 * @param table the table; "" takes the backup's name
 * @param file the backup file's name on the server, as for ZDB_BackupTable()
 * @return #ZDB_OK, 2001; server: 4092 no such file, 4091 bad file name, 4090 not a table
 *         backup, 4051/4052 locked by another session, 4005
 */
int32_t ZDB_CALL ZDB_RestoreTable(const char* table, const char* file);
/**
 * Creates an index on fields of a table of the selected database.
 * @param index the index's name
 * @param table the table; "" for the selected one
 * @param fields field names separated by ",", e.g. "NAME,CITY"
 * @return #ZDB_OK, 2001; server: 4030 unknown field, 4025 exists, 4023 bad name
 */
int32_t ZDB_CALL ZDB_CreateIndex(const char* index, const char* table, const char* fields);
/**
 * Drops an index.
 * @param index "TABLE.INDEX", or an index of the selected table
 * @return #ZDB_OK, 2001; server: 4026 unknown
 */
int32_t ZDB_CALL ZDB_EraseIndex(const char* index);
/**
 * Rebuilds every index of a table.
 * @param table the table; "" for the selected one
 * @return #ZDB_OK, 2001; server: 4021 unknown table, 4020 none given and none selected, 4010 no
 *         database selected, 4005
 */
int32_t ZDB_CALL ZDB_RebuildIndex(const char* table);
/**
 * Compacts the table's storage (zdbd: the database file).
 * @param table the table; "" for the selected one
 * @return #ZDB_OK, 2001; server: 4061 inside a transaction
 */
int32_t ZDB_CALL ZDB_CompactTable(const char* table);
/**
 * Deletes every record of a table, all or nothing; cross references pointing at the table apply
 * their rules record by record (see ZDB_Delete()).
 * @param table the table; "" for the selected one
 * @param value only the low 16 bits are sent; zdbd does not read them
 * @return #ZDB_OK, 2001; server: 4051/4052/4050 locked by another session, 4038 a RESTRICT
 *         reference still points at a record
 */
int32_t ZDB_CALL ZDB_ClearTable(const char* table, int32_t value); /* low 16 bits are sent */
/**
 * Appends every record of one table to another, all or nothing: fields are matched by name,
 * values converted through text and checked against the target's rules (its defaults fill the
 * other fields). A missing target is created with the source's fields first.
 * @param source the source table; "" for the selected one
 * @param target the target table of the selected database
 * @return #ZDB_OK, 2001; server: 4021 unknown source, 4023 bad or empty target name, 4002 the
 *         target is the source, 4020 no source given and none selected, 4010 no database
 *         selected, 4033, 4034, 4037 a value refused, 4050-4052 locked, 4005
 */
int32_t ZDB_CALL ZDB_FFCopy(const char* source, const char* target);
/**
 * Checks that every record of a table satisfies the cross references leaving it; the answer is
 * the code.
 * @param table the table (the references' from-table); "" for the selected one
 * @param reference the name of the reference to check; "" for all of them
 * @return #ZDB_OK all satisfied, 2001; server: 4037 a record has no match, 4039 no reference
 *         of that name, 4021
 */
int32_t ZDB_CALL ZDB_XRefTest(const char* table, const char* reference);

/* ==== Field values =========================================================================== */

/**
 * Reads one field of the current record of the selected table.
 *
 * The value's form follows the size (docs/server.md lists zdbd's formats): type N, and type C
 * with subtype N, travel as 8-byte doubles when the size is 8; type I as a 2-byte integer when
 * it is 2; any other size gives the value as text, left-aligned and padded with spaces to the
 * field's width (no terminator when the size equals the width).
 *
 * With size -1 (#ZDB_SIZE_FROM_DEFINITION) or -2 (#ZDB_SIZE_LIBRARY_BUFFER) the library takes
 * the size from the field's definition as the server gives it (cached while the table is
 * selected, else asked for): 8 for numbers, 2 for integers, 10 for dates, 256 for memo and
 * binary fields, otherwise the field's width. With -1 it writes exactly that many bytes into
 * @p value, without a terminating zero; @p value must hold that many bytes, since the library
 * cannot check it. With -2 the value is received into a buffer of the library's own and
 * @p value is not written (a probe of the field). A width that no record can hold (above
 * 4,294,954,233) is refused with 2001 before the read is sent, and @p value is left untouched.
 * @param name field name (or "TABLE.FIELD" of another open table); writable: the reply returns
 *             its copy of the name into it
 * @param value receives @p size bytes
 * @param size bytes of @p value, or -1 / -2 as above; other sizes of 2^31 or more: 2003
 * @return #ZDB_OK, 2003, 2001 (also a width no record can hold), 2013; server: 4030 unknown
 *         field, 4040 no current record
 */
int32_t ZDB_CALL ZDB_GetField(char* name, void* value, uint32_t size);
/**
 * Writes one field of the current record. Forms as for ZDB_GetField(); a text ends at its
 * first zero byte and may not be longer than the width; with size -1 a text's own length
 * (without the zero) is sent.
 * @param name field name
 * @param value the value: @p size bytes
 * @param size bytes of @p value, or -1 (#ZDB_SIZE_FROM_DEFINITION)
 * @return #ZDB_OK, 2003, 2001, 2013; server: 4033 does not fit, 4034 a constraint refuses it,
 *         4037 a cross reference finds no matching record, 4038 records still point at the
 *         value it replaces, 4030, 4040, 4050-4052 locked
 */
int32_t ZDB_CALL ZDB_PutField(const char* name, const void* value, uint32_t size);
/**
 * Checks a value as ZDB_PutField() would, storing nothing.
 * @param name field name
 * @param value the value: @p size bytes
 * @param size bytes of @p value, or -1 (#ZDB_SIZE_FROM_DEFINITION)
 * @return #ZDB_OK when it would be stored; 4033 when it does not fit, 4034, 4037, 4038 as for
 *         ZDB_PutField(); 2003, 2001
 */
int32_t ZDB_CALL ZDB_TestField(const char* name, const void* value, uint32_t size);
/**
 * Asks whether a field of the current record is null (a new record's fields are, until
 * written).
 * @param name field name; writable: the reply returns its copy of the name into it
 * @param indicator sent and overwritten: 2 bytes, a 16-bit 1 for null, else 0
 * @return #ZDB_OK, 2003, 2001; server: 4030, 4040
 */
int32_t ZDB_CALL ZDB_IsNull(char* name, void* indicator); /* 2-byte indicator */
/**
 * Copies a value of one open table's current record into another's, through its text.
 * @param fromTable the source table; "" for the selected one
 * @param fromField the source field
 * @param toTable the target table; "" for the selected one
 * @param toField the target field
 * @return #ZDB_OK, 2003 a null text, 2001 or the server's status
 */
int32_t ZDB_CALL ZDB_CpyField(const char* fromTable, const char* fromField, const char* toTable,
                              const char* toField);
/**
 * Copies two values of one open table's current record into two fields of another's, through
 * their texts, in one change: both land or neither.
 * @param fromTable the source table; "" for the selected one
 * @param fromField1 the first source field
 * @param fromField2 the second source field
 * @param toTable the target table; "" for the selected one
 * @param toField1 the field that receives the first value
 * @param toField2 the field that receives the second value
 * @return #ZDB_OK, 2003 a null text, 2001; server: 4033, 4034, 4037 as for ZDB_PutField(),
 *         4024 table not open, 4030, 4040, 4050-4052 locked
 */
int32_t ZDB_CALL ZDB_2CpyField(const char* fromTable, const char* fromField1,
                               const char* fromField2, const char* toTable, const char* toField1,
                               const char* toField2);
/**
 * Moves as ZDB_Read() does, then reads the listed fields of the new current record as texts.
 * @param mode as for ZDB_Read(); writable: the reply returns its copy into it
 * @param option as for ZDB_Read(); writable likewise
 * @param fieldList "*" or field names separated by ","
 * @param values one element per listed field (#ZDB_RECORD_VALUES_MAX covers any list): every
 *               non-null element among the delivered fields is released with free() and
 *               replaced by a new malloc'd text that belongs to the caller (free it, or pass the
 *               array again). Numbers come in their shortest decimal form, nulls as "".
 * @return #ZDB_OK, 2003, 2001, 2004, 2013, 2021; server: as ZDB_Read(), 4030
 */
int32_t ZDB_CALL ZDB_GetRead(char* mode, char* option, const char* fieldList, char** values);
/**
 * Reads the listed fields of the current record as texts (see ZDB_GetRead()).
 * @param fieldList "*" or field names separated by ","
 * @param values as for ZDB_GetRead()
 * @return #ZDB_OK, 2003, 2001, 2004, 2013, 2021; server: 4030, 4040
 */
int32_t ZDB_CALL ZDB_MatGetFields(const char* fieldList, char** values);
/**
 * Appends a new record holding the listed values; it becomes current.
 * @param fieldList "*" or field names separated by ","
 * @param values one text per listed field; a null element is written as ""; a text longer than
 *               its field's width is cut to it. Fields not listed receive their defaults.
 * @return #ZDB_OK, 2003, 2001, 2004, 2013, 2021; server: 4033, 4034, 4037 (nothing is
 *         appended), 4050-4052
 */
int32_t ZDB_CALL ZDB_PutWrite(const char* fieldList, char** values);
/**
 * Writes the listed values into the current record in one change.
 * @param fieldList "*" or field names separated by ","; all of the selected table
 * @param values as for ZDB_PutWrite()
 * @return #ZDB_OK, 2003, 2001, 2004, 2013, 2021; server: 4033, 4034, 4037, 4038 (one refused
 *         value stores none), 4040, 4050-4052
 */
int32_t ZDB_CALL ZDB_MatPutFields(const char* fieldList, char** values);
/**
 * ZDB_GetField() on a named open table.
 * @param table the table; "" for the selected one; writable: the reply returns its copy
 * @param name field name; writable likewise
 * @param value receives @p size bytes
 * @param size as for ZDB_GetField(): with -1 or -2 the size is chosen as there, so with -1
 *             @p value must hold the field's width as the server defines it (or 8, 2, 10, 256
 *             by its type), and no terminating zero is added
 * @return as ZDB_GetField(); server: 4024 table not open
 */
int32_t ZDB_CALL ZDB_FRead(char* table, char* name, void* value, uint32_t size);
/**
 * ZDB_PutField() on a named open table. -2 is a size like any other here.
 * @param table the table; "" for the selected one; writable: the reply returns its copy
 * @param name field name; writable likewise
 * @param value the value, @p size bytes; writable: the reply returns it as sent
 * @param size bytes of @p value, or -1 (#ZDB_SIZE_FROM_DEFINITION)
 * @return as ZDB_PutField(); server: 4024 table not open
 */
int32_t ZDB_CALL ZDB_FWrite(char* table, char* name, void* value, uint32_t size);
/**
 * ZDB_GetRead() with the values in an Automation array of byte BSTRs.
 * @param mode as for ZDB_Read(); writable
 * @param option as for ZDB_Read(); writable
 * @param fieldList "*" or field names separated by ","
 * @param array a one-dimensional array reference; a null array is created with 300 elements
 * @return as ZDB_GetRead(); 2003 bad array, 2001 an array operation failed
 */
int32_t ZDB_CALL DB_GetRead(char* mode, char* option, const char* fieldList, zdb_SAFEARRAY** array);
/**
 * ZDB_MatGetFields() into an Automation array of byte BSTRs.
 * @param fieldList "*" or field names separated by ","
 * @param array a one-dimensional array reference; a null array is created with 300 elements
 * @return as ZDB_MatGetFields(); 2003 bad array
 */
int32_t ZDB_CALL DB_MatGetFields(const char* fieldList, zdb_SAFEARRAY** array);
/**
 * ZDB_MatPutFields() from an Automation array of byte BSTRs; fields beyond the array's end or
 * its first empty element are sent as "".
 * @param fieldList "*" or field names separated by ","
 * @param array a one-dimensional array reference
 * @return as ZDB_MatPutFields(); 2003 bad array
 */
int32_t ZDB_CALL DB_MatPutFields(const char* fieldList, zdb_SAFEARRAY** array);
/**
 * ZDB_PutWrite() from an Automation array of byte BSTRs (missing values as for
 * DB_MatPutFields()).
 * @param fieldList "*" or field names separated by ","
 * @param array a one-dimensional array reference
 * @return as ZDB_PutWrite(); 2003 bad array
 */
int32_t ZDB_CALL DB_PutWrite(const char* fieldList, zdb_SAFEARRAY** array);

#include "zdb_api_catalog.h"

#ifdef __cplusplus
}
#endif

#endif /* ZDB_API_H */
