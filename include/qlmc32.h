/*
 * qlmc32.h - the C-Language Interface of the Quillmar messaging system.
 *
 * An application opens the interface, opens a project and within it the
 * address book, the mailbox or the message system, and then adds, replaces,
 * deletes and lists entries, assigns entries to one another, runs network
 * sessions and explains errors. Every call becomes one request to the Quillmar
 * Request Manager (qlmrqmgr), which keeps all data; the library stores nothing
 * persistent.
 *
 * ABI RULES
 *
 * Records.  Every record that crosses this interface is a sequence of
 *   fixed-width character fields in a fixed order: blank-padded (0x20), never
 *   zero-terminated, without alignment or padding. The structs below consist of
 *   char arrays only, so sizeof(struct) is the record width and the field
 *   offsets are the record's; applications may use the structs or raw buffers
 *   of the same width. A field whose bytes are all blanks is "not specified"
 *   and does not travel. A value travels without its trailing blanks, and a
 *   zero byte ends it early; a zero byte is not a blank, so a field of zero
 *   bytes travels as an empty value.
 *   Field names are those of the system: named keys and list keywords carry
 *   their word (nickname, mailboxid, ...), every other field is "field" plus the
 *   number of the item it travels as (field772). Two words are C++ keywords and
 *   carry a trailing underscore: operator_ and class_. The first 20 bytes of
 *   almost every request record name an open project: the member "context".
 *   Areas that never travel are called "reserved".
 *
 * Ownership.  The caller owns every record, list array and entry count. The
 *   library never allocates for the caller and never clears an output record:
 *   a reader writes only the bytes of the values it receives, each cut at its
 *   field's width, and leaves every other byte as it was. Blank output records
 *   first:
 *
 *       QlmAddr out;
 *       QlmResetMem((char *)&out, (int)sizeof out);
 *       rc = QlmAddAddr((char *)&req, (char *)&out);
 *
 *   A list array holds the number of entries that the request's numentries
 *   asks for; the library stores no more than that. An entry count is an
 *   unsigned 16-bit integer that the library sets.
 *
 * Return codes.  Every request function returns a QlmRc:
 *   QLM_RC_OK (0)       success;
 *   QLM_RC_WARNING (4)  done, with a warning (for instance a project closed
 *                       after its address book had to be closed for it);
 *   QLM_RC_REFUSED (8)  refused by the library, nothing was sent;
 *   QLM_RC_FAILED (12)  the library failed (buffer, memory, link, malformed
 *                       answer);
 *   QLM_RC_RM_NO_ERRSEG (1)  the Request Manager failed the request without
 *                       saying why;
 *   QLM_RC_RM_REFUSED (16)  the Request Manager refused the request (unknown
 *                       entry, wrong state, no session, ...);
 *   QLM_RC_RM_FAILED (20)   the Request Manager failed while carrying it out
 *                       (its database, a transfer);
 *   any other value     the Request Manager's own return code.
 *   1, 4, 8 and 12 are the library's own; the Request Manager's codes pass
 *   through unchanged.
 *   The reason is one process-wide error number (QLM_ERRORS below, or the
 *   Request Manager's number); QlmErrorExplanation returns it with its texts.
 *
 * Threads.  The library runs on the calling thread, creates none and has no
 *   locks. Call it from one thread at a time and never reentrantly: every call
 *   is synchronous and owns the library's single message buffer until it
 *   returns.
 */
#ifndef QLMC32_H
#define QLMC32_H

/* The version of this header and of the library built from it: 6.1.0. The
 * shared object is libqlmc32.so.6 (file libqlmc32.so.6.1.0), the pkg-config and
 * CMake package version is the same; the major number changes only with the ABI. */
#define QLMC32_VERSION_MAJOR 6
#define QLMC32_VERSION_MINOR 1
#define QLMC32_VERSION_PATCH 0
#define QLMC32_VERSION_STRING "6.1.0"
#define QLMC32_VERSION (QLMC32_VERSION_MAJOR * 10000 + QLMC32_VERSION_MINOR * 100 + QLMC32_VERSION_PATCH)

#include <stddef.h>
#include <stdint.h>

/* The result of every request function. */
typedef uint32_t QlmRc;

/* Marks the exported functions; the library is built with hidden visibility. On
   Windows: exported from qlmc32.dll, imported by its users (QLM_STATIC: linked with
   the static library instead). */
#ifndef QLM_API
#if defined(_WIN32) && defined(QLM_BUILDING_LIBRARY)
#define QLM_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(QLM_STATIC)
#define QLM_API __declspec(dllimport)
#elif defined(_WIN32)
#define QLM_API
#elif defined(__GNUC__) || defined(__clang__)
#define QLM_API __attribute__((visibility("default")))
#else
#define QLM_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------- */
/* Return codes                                                              */
/* ------------------------------------------------------------------------- */

#define QLM_RC_OK 0
#define QLM_RC_RM_NO_ERRSEG 1
#define QLM_RC_WARNING 4
#define QLM_RC_REFUSED 8
#define QLM_RC_FAILED 12
#define QLM_RC_RM_REFUSED 16
#define QLM_RC_RM_FAILED 20

/* QlmSizeOfOrdr and QlmSizeOfRcpt for an unknown entry type character. */
#define QLM_SIZE_UNKNOWN 0xFFFFFFFFu

/* The most bytes of one value that a reply carries into a record. Fields whose
 * width the Request Manager's value alone decides are this wide. */
#define QLM_MAX_VALUE_WIDTH 130
/* Width of field2657 of the QlmRetrieveErrText text record. */
#define QLM_RETRIEVED_KEY_WIDTH QLM_MAX_VALUE_WIDTH

/* ------------------------------------------------------------------------- */
/* Library error numbers                                                     */
/* ------------------------------------------------------------------------- */

/* XX(name, number); the return code that goes with each is in its comment. */
#define QLM_ERRORS(XX)                                                               \
  XX(QLM_ERR_NO_ROOTDIR, 278)               /* 8: no installation root at open */    \
  XX(QLM_ERR_MALFORMED, 20010)              /* 12: buffer full, answer malformed or  \
                                               not matching, context entry missing */ \
  XX(QLM_ERR_NO_MEMORY, 20020)              /* 12: no memory */                      \
  XX(QLM_ERR_NO_LINK, 20030)                /* 12: Request Manager not started, or   \
                                               sending or receiving failed */        \
  XX(QLM_ERR_INTERFACE_OPEN, 20040)         /* 8: interface already open */          \
  XX(QLM_ERR_PROJ_OPEN, 20050)              /* 8: project already open */            \
  XX(QLM_ERR_ADBK_NOT_OPEN, 20060)          /* 8: address book not open */           \
  XX(QLM_ERR_MBOX_NOT_OPEN, 20070)          /* 8: mailbox not open */                \
  XX(QLM_ERR_PROJ_NOT_OPEN, 20080)          /* 8: project not open */                \
  XX(QLM_ERR_ADBK_OPEN, 20090)              /* 8: address book already open */       \
  XX(QLM_ERR_MBOX_OPEN, 20100)              /* 8: mailbox already open */            \
  XX(QLM_ERR_NULL_RECORD, 20110)            /* 8: required record pointer null */    \
  XX(QLM_ERR_INTERFACE_NOT_OPEN, 20120)     /* 8: interface not open */              \
  XX(QLM_ERR_BLANK_CONTEXT, 20130)          /* 8: context name blank */              \
  XX(QLM_ERR_PROJ_CLOSED_MBOX_OPEN, 20150)  /* 4: project closed while its mailbox   \
                                               was open */                           \
  XX(QLM_ERR_PROJ_CLOSED_ADBK_OPEN, 20160)  /* 4: project closed while its address   \
                                               book was open */                      \
  XX(QLM_ERR_BLANK_KEY, 20170)              /* 8: a required key other than the      \
                                               context name blank */                 \
  XX(QLM_ERR_PROJ_CLOSED_BOTH_OPEN, 20180)  /* 4: project closed while its address   \
                                               book and mailbox were open */         \
  XX(QLM_ERR_BAD_SELECTFIELD, 20190)        /* 8: selectfield no list keyword */     \
  XX(QLM_ERR_BAD_SORTFIELD, 20200)          /* 8: sortfield no list keyword */       \
  XX(QLM_ERR_BAD_NUMENTRIES, 20210)         /* 8: numentries not 1-65535 */          \
  XX(QLM_ERR_BAD_STARTENTRY, 20220)         /* 8: startentry not 1-65535 */          \
  XX(QLM_ERR_MSYS_NOT_OPEN, 20230)          /* 8: message system not open */         \
  XX(QLM_ERR_NO_ERROR_FILE, 28000)          /* QlmErrorExplanation: the error text   \
                                               file cannot be opened */

#define QLM_ERROR_ENUM_ENTRY_(name, number) name = number,
typedef enum QlmError { QLM_ERRORS(QLM_ERROR_ENUM_ENTRY_) } QlmError;
#undef QLM_ERROR_ENUM_ENTRY_

/* ------------------------------------------------------------------------- */
/* Compile-time checks of the record structs                                 */
/* ------------------------------------------------------------------------- */

/* QLM_STATIC_ASSERT(cond, name): fails to compile when cond is false; name is
 * an identifier unique in the translation unit. */
#ifdef __cplusplus
#define QLM_STATIC_ASSERT(cond, name) static_assert(cond, #name)
#else
#define QLM_STATIC_ASSERT(cond, name) typedef char qlm_static_assert_##name[(cond) ? 1 : -1]
#endif

#define QLM_RECORD_SIZE_(T, n) QLM_STATIC_ASSERT(sizeof(T) == (n), T##_size)
#define QLM_RECORD_AT_(T, member, off) \
  QLM_STATIC_ASSERT(offsetof(T, member) == (off), T##_at_##off)

/* ------------------------------------------------------------------------- */
/* Records of the interface: errors, contexts, list qualifiers               */
/* ------------------------------------------------------------------------- */

/* Error text record (QlmErrorExplanation's output). The texts end with a zero
 * byte when shorter than their field. */
typedef struct QlmErrText {
  char errornumber[5];        /* the error number as 5 characters */
  char errormessage[80];      /* short message */
  char errorexplanation[500]; /* what happened */
  char errorresponse[500];    /* what the user should do */
} QlmErrText;
QLM_RECORD_SIZE_(QlmErrText, 1085);
QLM_RECORD_AT_(QlmErrText, errormessage, 5);
QLM_RECORD_AT_(QlmErrText, errorexplanation, 85);
QLM_RECORD_AT_(QlmErrText, errorresponse, 585);

/* Request of QlmRetrieveErrText: asks the Request Manager for the texts of an
 * error number. */
typedef struct QlmErrTextReq {
  char context[20];    /* an open project */
  char errornumber[5]; /* the number whose texts are wanted */
  char errorkey[20];   /* qualifies the text wanted */
} QlmErrTextReq;
QLM_RECORD_SIZE_(QlmErrTextReq, 45);
QLM_RECORD_AT_(QlmErrTextReq, errornumber, 20);
QLM_RECORD_AT_(QlmErrTextReq, errorkey, 25);

/* Text record of QlmRetrieveErrText. The reader does not clear it: bytes it
 * does not write keep their contents. field2657 is as wide as the longest
 * value a reply carries (QLM_MAX_VALUE_WIDTH). */
typedef struct QlmRetrievedErrText {
  char errornumber[5];
  char errormessage[100];
  char errorexplanation[950];
  char errorresponse[950];
  char field2657[QLM_RETRIEVED_KEY_WIDTH];
} QlmRetrievedErrText;
QLM_RECORD_SIZE_(QlmRetrievedErrText, 2135);
QLM_RECORD_AT_(QlmRetrievedErrText, errormessage, 5);
QLM_RECORD_AT_(QlmRetrievedErrText, errorexplanation, 105);
QLM_RECORD_AT_(QlmRetrievedErrText, errorresponse, 1055);
QLM_RECORD_AT_(QlmRetrievedErrText, field2657, 2005);

/* Context name record: the project name, blank-padded. The argument of
 * closing a project and of opening and closing its address book, mailbox and
 * message system, and of deleting the order and receipt shelves. */
typedef struct QlmContextName {
  char context[20];
} QlmContextName;
QLM_RECORD_SIZE_(QlmContextName, 20);

/* Shelf request record (deleting the order or the receipt shelf). */
typedef QlmContextName QlmShlfReq;

/* Project open record (QlmOpenProj). */
typedef struct QlmProjOpen {
  char openparm[8];
  char context[20]; /* the project to open */
} QlmProjOpen;
QLM_RECORD_SIZE_(QlmProjOpen, 28);
QLM_RECORD_AT_(QlmProjOpen, context, 8);

/* Project open result (QlmOpenProj, optional): the value the Request Manager
 * returns, copied from the first byte at its received length (at most 130). */
typedef struct QlmProjOpenResult {
  char field452[QLM_MAX_VALUE_WIDTH];
} QlmProjOpenResult;
QLM_RECORD_SIZE_(QlmProjOpenResult, 130);

/* List qualifier record: the request of the lists that select and sort.
 * selectfield and sortfield hold a list keyword of the listed entity (case
 * does not matter); operator_ is one of > < = <> >= <= ; sortorder "A" or "D";
 * startentry and numentries are 1-65535 in decimal digits. */
typedef struct QlmListQual {
  char context[20];
  char selectfield[25];
  char operator_[2];
  char selectvalue[20];
  char unused[5]; /* not read */
  char sortfield[25];
  char sortorder[1];
  char startentry[5];
  char numentries[5];
} QlmListQual;
QLM_RECORD_SIZE_(QlmListQual, 108);
QLM_RECORD_AT_(QlmListQual, selectfield, 20);
QLM_RECORD_AT_(QlmListQual, operator_, 45);
QLM_RECORD_AT_(QlmListQual, selectvalue, 47);
QLM_RECORD_AT_(QlmListQual, unused, 67);
QLM_RECORD_AT_(QlmListQual, sortfield, 72);
QLM_RECORD_AT_(QlmListQual, sortorder, 97);
QLM_RECORD_AT_(QlmListQual, startentry, 98);
QLM_RECORD_AT_(QlmListQual, numentries, 103);

/* Small list qualifier record: the request of the lists that only page. */
typedef struct QlmSmallListQual {
  char context[20];
  char startentry[5];
  char numentries[5];
} QlmSmallListQual;
QLM_RECORD_SIZE_(QlmSmallListQual, 30);
QLM_RECORD_AT_(QlmSmallListQual, startentry, 20);
QLM_RECORD_AT_(QlmSmallListQual, numentries, 25);

/* Paging area (listing projects, and the projects of a communication
 * profile). */
typedef struct QlmPaging {
  char startentry[5];
  char numentries[5];
} QlmPaging;
QLM_RECORD_SIZE_(QlmPaging, 10);
QLM_RECORD_AT_(QlmPaging, numentries, 5);

/* Assignment record: assigns a member to a container or takes it off again.
 *   address to distribution list:     container = list name,  member = nickname
 *   address or distribution list to
 *     trading profile:                container = profile,    member = nickname / list name
 *   send or receive order to drop box: container = drop box,  member = order name
 *   send or receive receipt to
 *     session receipt:                container = session receipt name, member = receipt name */
typedef struct QlmAssignReq {
  char context[20];
  char container[20];
  char member[20];
} QlmAssignReq;
QLM_RECORD_SIZE_(QlmAssignReq, 60);
QLM_RECORD_AT_(QlmAssignReq, container, 20);
QLM_RECORD_AT_(QlmAssignReq, member, 40);

/* ------------------------------------------------------------------------- */
/* Address book and project records                                          */
/* ------------------------------------------------------------------------- */

/* Address record: returned by add and replace, listed 385 bytes apart. */
typedef struct QlmAddr {
  char nickname[20]; /* key */
  char field106[20];
  char lastname[20];
  char field108[6];
  char field109[20];
  char company[20];
  char city[20];
  char field112[60];
  char state[16];
  char field114[20];
  char zip[11];
  char mailboxid[16];
  char field117[3];
  char field118[8];
  char field121[1];
  char field122[3];
  char field123[16];
  char field124[35];
  char field125[35];
  char field120[35];
} QlmAddr;
QLM_RECORD_SIZE_(QlmAddr, 385);
QLM_RECORD_AT_(QlmAddr, lastname, 40);
QLM_RECORD_AT_(QlmAddr, state, 186);
QLM_RECORD_AT_(QlmAddr, mailboxid, 233);
QLM_RECORD_AT_(QlmAddr, field121, 260);
QLM_RECORD_AT_(QlmAddr, field120, 350);

/* Address request: add, replace; delete reads context and nickname. */
typedef struct QlmAddrReq {
  char context[20];
  QlmAddr addr;
} QlmAddrReq;
QLM_RECORD_SIZE_(QlmAddrReq, 405);
QLM_RECORD_AT_(QlmAddrReq, addr, 20);

/* Distribution list record: returned by add and replace, listed 99 bytes
 * apart. */
typedef struct QlmDistList {
  char name[20]; /* key */
  char description[79];
} QlmDistList;
QLM_RECORD_SIZE_(QlmDistList, 99);
QLM_RECORD_AT_(QlmDistList, description, 20);

/* Distribution list request: add, replace; delete reads context and name. */
typedef struct QlmDistListReq {
  char context[20];
  QlmDistList distlist;
} QlmDistListReq;
QLM_RECORD_SIZE_(QlmDistListReq, 119);

/* Trading profile record: returned by add and replace, listed 70 bytes
 * apart. */
typedef struct QlmTradProf {
  char name[20]; /* key */
  char field138[4];
  char field139[8];
  char field140[8];
  char field141[5];
  char field142[1];
  char field143[1];
  char field144[3];
  char field145[20];
} QlmTradProf;
QLM_RECORD_SIZE_(QlmTradProf, 70);
QLM_RECORD_AT_(QlmTradProf, field141, 40);
QLM_RECORD_AT_(QlmTradProf, field145, 50);

/* Trading profile request: add, replace; delete reads context and name. */
typedef struct QlmTradProfReq {
  char context[20];
  QlmTradProf tradprof;
} QlmTradProfReq;
QLM_RECORD_SIZE_(QlmTradProfReq, 90);

/* Project record: the request of adding, replacing and deleting a project.
 * projname is the key and at the same time the context name. Replacing never
 * sends field461. */
typedef struct QlmProj {
  char projname[20];
  char field453[20];
  char field454[79];
  char field458[8];
  char field459[8];
  char field460[3];
  char field461[1];
} QlmProj;
QLM_RECORD_SIZE_(QlmProj, 139);
QLM_RECORD_AT_(QlmProj, field458, 119);
QLM_RECORD_AT_(QlmProj, field461, 138);

/* Project information record: returned by add and replace, listed 199 bytes
 * apart. field464 is filled by the lists only. */
typedef struct QlmProjInfo {
  char projname[20];
  char field453[20];
  char field454[79];
  char field455[14];
  char field460[3];
  char field461[1];
  char field462[1];
  char field463[60];
  char field464[1];
} QlmProjInfo;
QLM_RECORD_SIZE_(QlmProjInfo, 199);
QLM_RECORD_AT_(QlmProjInfo, field455, 119);
QLM_RECORD_AT_(QlmProjInfo, field463, 138);
QLM_RECORD_AT_(QlmProjInfo, field464, 198);

/* Communication profile record: returned by add and replace, listed 103 bytes
 * apart. field820 and field821 are sent by add only and never read back. */
typedef struct QlmCommProf {
  char profname[20]; /* key */
  char field466[1];
  char field467[1];
  char field820[1];
  char field821[80];
} QlmCommProf;
QLM_RECORD_SIZE_(QlmCommProf, 103);
QLM_RECORD_AT_(QlmCommProf, field820, 22);
QLM_RECORD_AT_(QlmCommProf, field821, 23);

/* Communication profile request: add, replace; delete reads context and
 * profname. */
typedef struct QlmCommProfReq {
  char context[20];
  QlmCommProf commprof;
} QlmCommProfReq;
QLM_RECORD_SIZE_(QlmCommProfReq, 123);

/* Project assignment record: assigns a project to a communication profile or
 * takes it off. The project (context) must be open. */
typedef struct QlmProjAssignReq {
  char profname[20];
  char context[20];
} QlmProjAssignReq;
QLM_RECORD_SIZE_(QlmProjAssignReq, 40);
QLM_RECORD_AT_(QlmProjAssignReq, context, 20);

/* Network logon request: add, replace; delete reads context and logonid. Its
 * layout differs from the network logon record that comes back. */
typedef struct QlmVnLogonReq {
  char context[20];
  char logonid[10]; /* key */
  char mailboxid[16];
  char field474[8];
  char field478[8];
  char field476[79];
} QlmVnLogonReq;
QLM_RECORD_SIZE_(QlmVnLogonReq, 141);
QLM_RECORD_AT_(QlmVnLogonReq, logonid, 20);
QLM_RECORD_AT_(QlmVnLogonReq, field474, 46);
QLM_RECORD_AT_(QlmVnLogonReq, field476, 62);

/* Network logon record: returned by add and replace, listed 111 bytes apart. */
typedef struct QlmVnLogon {
  char logonid[10];
  char mailboxid[16];
  char field475[1];
  char field476[79];
  char field477[5];
} QlmVnLogon;
QLM_RECORD_SIZE_(QlmVnLogon, 111);
QLM_RECORD_AT_(QlmVnLogon, field475, 26);
QLM_RECORD_AT_(QlmVnLogon, field476, 27);
QLM_RECORD_AT_(QlmVnLogon, field477, 106);

/* ------------------------------------------------------------------------- */
/* Mailbox records: orders, receipts, drop boxes                             */
/* ------------------------------------------------------------------------- */

/* Send order record: returned by add and replace, and the body of a send
 * order entry. */
typedef struct QlmSendOrdr {
  char name[20]; /* key */
  char description[79];
  char field772[3];
  char mailboxid[16];
  char field774[1];
  char field775[3];
  char field776[16];
  char field777[8];
  char field778[20];
  char field779[1];
  char class_[8];
  char field781[65];
  char field782[1];
  char field802[1];
  char field783[1];
  char field784[1];
  char field785[3];
  char field786[1];
  char reserved[20]; /* never sent, never filled */
  char field788[1];
  char field789[1];
  char field790[79];
  char field791[1];
  char field792[1];
  char field793[5];
  char field794[1];
  char field795[54];
  char field796[65];
  char field797[1];
  char field798[8];
  char field799[5];
  char field800[8];
  char field801[1];
} QlmSendOrdr;
QLM_RECORD_SIZE_(QlmSendOrdr, 499);
QLM_RECORD_AT_(QlmSendOrdr, field772, 99);
QLM_RECORD_AT_(QlmSendOrdr, mailboxid, 102);
QLM_RECORD_AT_(QlmSendOrdr, class_, 167);
QLM_RECORD_AT_(QlmSendOrdr, field781, 175);
QLM_RECORD_AT_(QlmSendOrdr, reserved, 248);
QLM_RECORD_AT_(QlmSendOrdr, field796, 411);
QLM_RECORD_AT_(QlmSendOrdr, field801, 498);

/* Add send order request. */
typedef struct QlmSendOrdrReq {
  char context[20];
  QlmSendOrdr sendordr;
} QlmSendOrdrReq;
QLM_RECORD_SIZE_(QlmSendOrdrReq, 519);

/* Replace send order request: the fields of the send order record, with the
 * block from description to class_ after field797. The replaced order comes
 * back as a QlmSendOrdr. */
typedef struct QlmSendOrdrReplaceReq {
  char context[20];
  char name[20];
  char field781[65];
  char field782[1];
  char field802[1];
  char field783[1];
  char field784[1];
  char field785[3];
  char field786[1];
  char reserved[20]; /* never sent */
  char field788[1];
  char field789[1];
  char field790[79];
  char field791[1];
  char field792[1];
  char field793[5];
  char field794[1];
  char field795[54];
  char field796[65];
  char field797[1];
  char description[79];
  char field772[3];
  char mailboxid[16];
  char field774[1];
  char field775[3];
  char field776[16];
  char field777[8];
  char field778[20];
  char field779[1];
  char class_[8];
  char field798[8];
  char field799[5];
  char field800[8];
  char field801[1];
} QlmSendOrdrReplaceReq;
QLM_RECORD_SIZE_(QlmSendOrdrReplaceReq, 519);
QLM_RECORD_AT_(QlmSendOrdrReplaceReq, field781, 40);
QLM_RECORD_AT_(QlmSendOrdrReplaceReq, reserved, 113);
QLM_RECORD_AT_(QlmSendOrdrReplaceReq, description, 342);
QLM_RECORD_AT_(QlmSendOrdrReplaceReq, class_, 489);
QLM_RECORD_AT_(QlmSendOrdrReplaceReq, field801, 518);

/* Send order entry: one entry of a list, entry type 'S'. */
typedef struct QlmSendOrdrEntry {
  char entrytype; /* 'S' */
  QlmSendOrdr sendordr;
} QlmSendOrdrEntry;
QLM_RECORD_SIZE_(QlmSendOrdrEntry, 500);
QLM_RECORD_AT_(QlmSendOrdrEntry, sendordr.mailboxid, 103);

/* Order delete request: deletes a send order or a receive order. */
typedef struct QlmOrdrDeleteReq {
  char context[20];
  char name[20];
} QlmOrdrDeleteReq;
QLM_RECORD_SIZE_(QlmOrdrDeleteReq, 40);

/* Receive order record: returned by add and replace, and the body of a
 * receive order entry. */
typedef struct QlmRecvOrdr {
  char name[20]; /* key */
  char description[79];
  char field689[3];
  char mailboxid[16];
  char field691[1];
  char field692[3];
  char field693[16];
  char field694[8];
  char field695[20];
  char field696[1];
  char class_[8];
  char fileid[65];
  char field699[8];
  char field700[1];
  char field701[1];
  char field702[1];
  char field703[1];
  char field704[3];
  char field705[1];
  char field706[1];
  char field707[1];
  char reserved[20]; /* never sent, never filled */
  char field709[1];
  char field710[1];
  char field711[1];
  char field712[1];
  char field713[1];
  char field714[2];
  char field715[20];
  char field716[14];
  char field717[14];
  char field718[5];
  char field719[8];
  char field720[1];
} QlmRecvOrdr;
QLM_RECORD_SIZE_(QlmRecvOrdr, 347);
QLM_RECORD_AT_(QlmRecvOrdr, field695, 146);
QLM_RECORD_AT_(QlmRecvOrdr, fileid, 175);
QLM_RECORD_AT_(QlmRecvOrdr, reserved, 258);
QLM_RECORD_AT_(QlmRecvOrdr, field714, 283);
QLM_RECORD_AT_(QlmRecvOrdr, field720, 346);

/* Add receive order request. */
typedef struct QlmRecvOrdrReq {
  char context[20];
  QlmRecvOrdr recvordr;
} QlmRecvOrdrReq;
QLM_RECORD_SIZE_(QlmRecvOrdrReq, 367);

/* Replace receive order request: the fields of the receive order record in
 * another order. The replaced order comes back as a QlmRecvOrdr. */
typedef struct QlmRecvOrdrReplaceReq {
  char context[20];
  char name[20];
  char fileid[65];
  char field699[8];
  char field700[1];
  char field701[1];
  char field702[1];
  char field703[1];
  char field704[3];
  char field705[1];
  char field706[1];
  char field707[1];
  char reserved[20]; /* never sent */
  char field709[1];
  char field710[1];
  char field711[1];
  char field712[1];
  char field713[1];
  char field714[2];
  char description[79];
  char field689[3];
  char mailboxid[16];
  char field691[1];
  char field692[3];
  char field693[16];
  char field694[8];
  char class_[8];
  char field719[8];
  char field715[20];
  char field716[14];
  char field717[14];
  char field718[5];
  char field695[20];
  char field696[1];
  char field720[1];
} QlmRecvOrdrReplaceReq;
QLM_RECORD_SIZE_(QlmRecvOrdrReplaceReq, 367);
QLM_RECORD_AT_(QlmRecvOrdrReplaceReq, fileid, 40);
QLM_RECORD_AT_(QlmRecvOrdrReplaceReq, reserved, 123);
QLM_RECORD_AT_(QlmRecvOrdrReplaceReq, description, 150);
QLM_RECORD_AT_(QlmRecvOrdrReplaceReq, class_, 276);
QLM_RECORD_AT_(QlmRecvOrdrReplaceReq, field695, 345);
QLM_RECORD_AT_(QlmRecvOrdrReplaceReq, field720, 366);

/* Receive order entry: one entry of a list, entry type 'R'. */
typedef struct QlmRecvOrdrEntry {
  char entrytype; /* 'R' */
  QlmRecvOrdr recvordr;
} QlmRecvOrdrEntry;
QLM_RECORD_SIZE_(QlmRecvOrdrEntry, 348);
QLM_RECORD_AT_(QlmRecvOrdrEntry, recvordr.fileid, 176);

/* Send receipt record: returned by add, and the body of a send receipt
 * entry. */
typedef struct QlmSendRcpt {
  char name[20]; /* key */
  char field1814[8];
  char field1815[9];
  char field1816[7];
  char field1817[35];
  char field1818[4];
  char field1819[14];
  char field1809[1];
  char field1810[3];
  char field1811[16];
  char field1807[3];
  char mailboxid[16];
  char field1812[8];
  char class_[8];
  char field1820[8];
  char field1821[5];
  char field1803[5];
  char startdate[14];
  char field1805[14];
  char ordername[20]; /* the send order of this receipt */
  char field1823[2];
  char field9969[8];
  char field1825[65];
  char field1824[1];
  char field1826[20];
  char field1827[1];
  char field1822[1];
} QlmSendRcpt;
QLM_RECORD_SIZE_(QlmSendRcpt, 316);
QLM_RECORD_AT_(QlmSendRcpt, mailboxid, 120);
QLM_RECORD_AT_(QlmSendRcpt, startdate, 170);
QLM_RECORD_AT_(QlmSendRcpt, ordername, 198);
QLM_RECORD_AT_(QlmSendRcpt, field9969, 220);
QLM_RECORD_AT_(QlmSendRcpt, field1822, 315);

/* Add send receipt request. */
typedef struct QlmSendRcptReq {
  char context[20];
  QlmSendRcpt sendrcpt;
} QlmSendRcptReq;
QLM_RECORD_SIZE_(QlmSendRcptReq, 336);

/* Send receipt entry: one entry of a list, entry type 'S'. */
typedef struct QlmSendRcptEntry {
  char entrytype; /* 'S' */
  QlmSendRcpt sendrcpt;
} QlmSendRcptEntry;
QLM_RECORD_SIZE_(QlmSendRcptEntry, 317);

/* Receive receipt record: returned by add, and the body of a receive receipt
 * entry (where field754 and field770 are never filled). */
typedef struct QlmRecvRcpt {
  char name[20]; /* key */
  char fileid[65];
  char field733[8];
  char field734[14];
  char field735[9];
  char field736[1];
  char field737[1];
  char field738[1];
  char field739[1];
  char field740[35];
  char field741[4];
  char field742[35];
  char field743[4];
  char field744[14];
  char field745[11];
  char field746[8];
  char field747[4];
  char field748[54];
  char field749[65];
  char field750[79];
  char field751[14];
  char field752[6];
  char field753[8];
  char field754[8];
  char field755[4];
  char field756[5];
  char field757[1];
  char field758[1];
  char field759[2];
  char field760[3];
  char field761[10];
  char field762[5];
  char field763[54];
  char field764[3];
  char field765[5];
  char field766[1];
  char field728[1];
  char field729[3];
  char field730[16];
  char field726[3];
  char mailboxid[16];
  char class_[8];
  char field767[8];
  char field768[5];
  char field769[8];
  char field722[5];
  char startdate[14];
  char field724[14];
  char ordername[20]; /* the receive order of this receipt */
  char field770[2];
  char field9969[8];
  char field771[1];
  char field1830[8];
  char field1831[20];
  char field1832[1];
} QlmRecvRcpt;
QLM_RECORD_SIZE_(QlmRecvRcpt, 724);
QLM_RECORD_AT_(QlmRecvRcpt, field754, 461);
QLM_RECORD_AT_(QlmRecvRcpt, field763, 500);
QLM_RECORD_AT_(QlmRecvRcpt, mailboxid, 586);
QLM_RECORD_AT_(QlmRecvRcpt, startdate, 636);
QLM_RECORD_AT_(QlmRecvRcpt, field770, 684);
QLM_RECORD_AT_(QlmRecvRcpt, field9969, 686);
QLM_RECORD_AT_(QlmRecvRcpt, field1832, 723);

/* Add receive receipt request. */
typedef struct QlmRecvRcptReq {
  char context[20];
  QlmRecvRcpt recvrcpt;
} QlmRecvRcptReq;
QLM_RECORD_SIZE_(QlmRecvRcptReq, 744);

/* Receive receipt entry: one entry of a list, entry type 'R'. */
typedef struct QlmRecvRcptEntry {
  char entrytype; /* 'R' */
  QlmRecvRcpt recvrcpt;
} QlmRecvRcptEntry;
QLM_RECORD_SIZE_(QlmRecvRcptEntry, 725);

/* Drop box record: returned by add and replace, listed 91 bytes apart.
 * field653 and field672 come from the Request Manager only; field672 takes the
 * rest of the record, 21 bytes. */
typedef struct QlmDropBox {
  char name[20]; /* key */
  char field653[1];
  char field654[10];
  char field655[1];
  char field656[1];
  char field657[1];
  char field660[1];
  char reserved[2]; /* never sent, never filled */
  char field658[1];
  char field664[1];
  char field665[7];
  char field666[4];
  char field667[5];
  char field668[8];
  char field669[1];
  char field671[6];
  char field672[21];
} QlmDropBox;
QLM_RECORD_SIZE_(QlmDropBox, 91);
QLM_RECORD_AT_(QlmDropBox, field654, 21);
QLM_RECORD_AT_(QlmDropBox, reserved, 35);
QLM_RECORD_AT_(QlmDropBox, field658, 37);
QLM_RECORD_AT_(QlmDropBox, field672, 70);

/* Drop box request: add and replace. It holds no field653 and no field672. */
typedef struct QlmDropBoxReq {
  char context[20];
  char name[20];
  char field654[10];
  char field655[1];
  char field656[1];
  char field657[1];
  char field660[1];
  char reserved[2]; /* never sent */
  char field658[1];
  char field664[1];
  char field665[7];
  char field666[4];
  char field667[5];
  char field668[8];
  char field669[1];
  char field671[6];
} QlmDropBoxReq;
QLM_RECORD_SIZE_(QlmDropBoxReq, 89);
QLM_RECORD_AT_(QlmDropBoxReq, field654, 40);
QLM_RECORD_AT_(QlmDropBoxReq, reserved, 54);
QLM_RECORD_AT_(QlmDropBoxReq, field671, 83);

/* Drop box key record: deletes a drop box. */
typedef struct QlmDropBoxDeleteReq {
  char context[20];
  char name[20];
} QlmDropBoxDeleteReq;
QLM_RECORD_SIZE_(QlmDropBoxDeleteReq, 40);

/* Drop box process record (QlmProcDropBox). Its result is a QlmSessResult of
 * which the first 95 bytes (name to status) are filled. */
typedef struct QlmDropBoxProcReq {
  char context[20];
  char field1150[20]; /* the drop box */
  char field1151[1];
} QlmDropBoxProcReq;
QLM_RECORD_SIZE_(QlmDropBoxProcReq, 41);
QLM_RECORD_AT_(QlmDropBoxProcReq, field1151, 40);

/* ------------------------------------------------------------------------- */
/* Session records: sessions, session operations, session receipts           */
/* ------------------------------------------------------------------------- */

/* Start session request (QlmStartSess). field1129 travels after field671. */
typedef struct QlmSessStartReq {
  char context[20];
  char field1115[10];
  char field660[1];
  char reserved[2]; /* never sent */
  char field664[1];
  char field665[7];
  char field666[3];
  char field667[5];
  char field668[8];
  char field669[1];
  char field1129[1];
  char field671[6];
} QlmSessStartReq;
QLM_RECORD_SIZE_(QlmSessStartReq, 65);
QLM_RECORD_AT_(QlmSessStartReq, reserved, 31);
QLM_RECORD_AT_(QlmSessStartReq, field664, 33);
QLM_RECORD_AT_(QlmSessStartReq, field1129, 58);
QLM_RECORD_AT_(QlmSessStartReq, field671, 59);

/* Session started record (QlmStartSess's result): session receipt fields. */
typedef struct QlmSessStarted {
  char field282[8];
  char field283[2];
  char field284[2];
  char field285[5];
  char field286[5];
  char name[20]; /* the session receipt */
  char status[5];
  char field287[5];
  char field288[5];
  char field290[1];
  char field291[1];
} QlmSessStarted;
QLM_RECORD_SIZE_(QlmSessStarted, 59);
QLM_RECORD_AT_(QlmSessStarted, name, 22);
QLM_RECORD_AT_(QlmSessStarted, status, 42);
QLM_RECORD_AT_(QlmSessStarted, field291, 58);

/* End session request (QlmEndSess). Its result is a QlmSessResult. */
typedef struct QlmSessEndReq {
  char context[20];
  char field1136[1];
  char field1175[1];
} QlmSessEndReq;
QLM_RECORD_SIZE_(QlmSessEndReq, 22);

/* Session result record: the session receipt fields with name first and
 * status after field286 (QlmEndSess; QlmProcDropBox fills name to status). */
typedef struct QlmSessResult {
  char name[20];
  char dropboxname[20];
  char startdate[14];
  char field281[14];
  char field282[8];
  char field283[2];
  char field284[2];
  char field285[5];
  char field286[5];
  char status[5];
  char field287[5];
  char field288[5];
  char field290[1];
  char field291[1];
} QlmSessResult;
QLM_RECORD_SIZE_(QlmSessResult, 107);
QLM_RECORD_AT_(QlmSessResult, startdate, 40);
QLM_RECORD_AT_(QlmSessResult, field281, 54);
QLM_RECORD_AT_(QlmSessResult, field286, 85);
QLM_RECORD_AT_(QlmSessResult, status, 90);
QLM_RECORD_AT_(QlmSessResult, field287, 95);

/* Send order operation request (QlmDoSendOrdr): the send order record from
 * field772 to its end; a field at offset N of QlmSendOrdr lies here at
 * N - 79. */
typedef struct QlmSendOrdrDoReq {
  char context[20];
  char field772[3];
  char mailboxid[16];
  char field774[1];
  char field775[3];
  char field776[16];
  char field777[8];
  char field778[20];
  char field779[1];
  char class_[8];
  char field781[65];
  char field782[1];
  char field802[1];
  char field783[1];
  char field784[1];
  char field785[3];
  char field786[1];
  char reserved[20]; /* never sent */
  char field788[1];
  char field789[1];
  char field790[79];
  char field791[1];
  char field792[1];
  char field793[5];
  char field794[1];
  char field795[54];
  char field796[65];
  char field797[1];
  char field798[8];
  char field799[5];
  char field800[8];
  char field801[1];
} QlmSendOrdrDoReq;
QLM_RECORD_SIZE_(QlmSendOrdrDoReq, 420);
QLM_RECORD_AT_(QlmSendOrdrDoReq, field772, 20);
QLM_RECORD_AT_(QlmSendOrdrDoReq, class_, 88);
QLM_RECORD_AT_(QlmSendOrdrDoReq, reserved, 169);
QLM_RECORD_AT_(QlmSendOrdrDoReq, field801, 419);

/* Receive order operation request (QlmDoRecvOrdr): the receive order record
 * from field689 to its end; a field at offset N of QlmRecvOrdr lies here at
 * N - 79. */
typedef struct QlmRecvOrdrDoReq {
  char context[20];
  char field689[3];
  char mailboxid[16];
  char field691[1];
  char field692[3];
  char field693[16];
  char field694[8];
  char field695[20];
  char field696[1];
  char class_[8];
  char fileid[65];
  char field699[8];
  char field700[1];
  char field701[1];
  char field702[1];
  char field703[1];
  char field704[3];
  char field705[1];
  char field706[1];
  char field707[1];
  char reserved[20]; /* never sent */
  char field709[1];
  char field710[1];
  char field711[1];
  char field712[1];
  char field713[1];
  char field714[2];
  char field715[20];
  char field716[14];
  char field717[14];
  char field718[5];
  char field719[8];
  char field720[1];
} QlmRecvOrdrDoReq;
QLM_RECORD_SIZE_(QlmRecvOrdrDoReq, 268);
QLM_RECORD_AT_(QlmRecvOrdrDoReq, fileid, 96);
QLM_RECORD_AT_(QlmRecvOrdrDoReq, reserved, 179);
QLM_RECORD_AT_(QlmRecvOrdrDoReq, field720, 267);

/* Order operation result of QlmDoSendOrdr: the send receipt that the
 * operation created. field8022 is QLM_MAX_VALUE_WIDTH wide. */
typedef struct QlmSendOrdrDone {
  char name[20]; /* the receipt */
  char field1803[5];
  char startdate[14];
  char field1805[14];
  char field8022[QLM_MAX_VALUE_WIDTH];
} QlmSendOrdrDone;
QLM_RECORD_SIZE_(QlmSendOrdrDone, 183);
QLM_RECORD_AT_(QlmSendOrdrDone, startdate, 25);
QLM_RECORD_AT_(QlmSendOrdrDone, field8022, 53);

/* Order operation result of QlmDoRecvOrdr: the receive receipt that the
 * operation created; same layout as QlmSendOrdrDone. */
typedef struct QlmRecvOrdrDone {
  char name[20]; /* the receipt */
  char field722[5];
  char startdate[14];
  char field724[14];
  char field8022[QLM_MAX_VALUE_WIDTH];
} QlmRecvOrdrDone;
QLM_RECORD_SIZE_(QlmRecvOrdrDone, 183);
QLM_RECORD_AT_(QlmRecvOrdrDone, field724, 39);
QLM_RECORD_AT_(QlmRecvOrdrDone, field8022, 53);

/* Purge request (QlmDoPurgOrdr). */
typedef struct QlmPurgOrdrReq {
  char context[20];
  char field2612[20];
} QlmPurgOrdrReq;
QLM_RECORD_SIZE_(QlmPurgOrdrReq, 40);

/* Purge result (QlmDoPurgOrdr, optional): the value copied from the first
 * byte at its received length (at most 130). */
typedef struct QlmPurgOrdrDone {
  char field2614[QLM_MAX_VALUE_WIDTH];
} QlmPurgOrdrDone;
QLM_RECORD_SIZE_(QlmPurgOrdrDone, 130);

/* Query entry (QlmDoQuryOrdr): entries follow each other every 421 bytes. */
typedef struct QlmQuryOrdrEntry {
  char field2568[5];
  char field2569[3];
  char field2570[16];
  char field2576[20];
  char field2577[8];
  char field2580[8];
  char field2581[5];
  char field2582[8];
  char field2583[14];
  char field2584[9];
  char field2585[1];
  char field2586[11];
  char field2587[8];
  char field2588[8];
  char field2589[54];
  char field2590[65];
  char field2591[79];
  char field2592[14];
  char field2593[4];
  char field2594[5];
  char field2595[1];
  char field2596[2];
  char field2597[3];
  char field2598[10];
  char field2599[5];
  char field2600[54];
  char field2601[1];
} QlmQuryOrdrEntry;
QLM_RECORD_SIZE_(QlmQuryOrdrEntry, 421);
QLM_RECORD_AT_(QlmQuryOrdrEntry, field2576, 24);
QLM_RECORD_AT_(QlmQuryOrdrEntry, field2589, 124);
QLM_RECORD_AT_(QlmQuryOrdrEntry, field2592, 322);
QLM_RECORD_AT_(QlmQuryOrdrEntry, field2601, 420);

/* Session receipt record: added, returned by add, listed 107 bytes apart (no
 * entry type character). */
typedef struct QlmSessRcpt {
  char status[5];
  char name[20]; /* key */
  char dropboxname[20];
  char startdate[14];
  char field281[14];
  char field282[8];
  char field283[2];
  char field284[2];
  char field285[5];
  char field286[5];
  char field287[5];
  char field288[5];
  char field290[1];
  char field291[1];
} QlmSessRcpt;
QLM_RECORD_SIZE_(QlmSessRcpt, 107);
QLM_RECORD_AT_(QlmSessRcpt, name, 5);
QLM_RECORD_AT_(QlmSessRcpt, startdate, 45);
QLM_RECORD_AT_(QlmSessRcpt, field282, 73);
QLM_RECORD_AT_(QlmSessRcpt, field291, 106);

/* Add session receipt request. */
typedef struct QlmSessRcptReq {
  char context[20];
  QlmSessRcpt sessrcpt;
} QlmSessRcptReq;
QLM_RECORD_SIZE_(QlmSessRcptReq, 127);

/* Session receipt delete request. */
typedef struct QlmSessRcptDeleteReq {
  char context[20];
  char name[20];
} QlmSessRcptDeleteReq;
QLM_RECORD_SIZE_(QlmSessRcptDeleteReq, 40);

/* Recover session receipt request (QlmRecoverSessRcpt). */
typedef struct QlmSessRcptRecoverReq {
  char context[20];
  char field1172[20];
  char field1173[1];
} QlmSessRcptRecoverReq;
QLM_RECORD_SIZE_(QlmSessRcptRecoverReq, 41);

/* Recovered session receipt record: the session result record with field1173
 * before status. */
typedef struct QlmSessRcptRecovered {
  char name[20];
  char dropboxname[20];
  char startdate[14];
  char field281[14];
  char field282[8];
  char field283[2];
  char field284[2];
  char field285[5];
  char field286[5];
  char field1173[1];
  char status[5];
  char field287[5];
  char field288[5];
  char field290[1];
  char field291[1];
} QlmSessRcptRecovered;
QLM_RECORD_SIZE_(QlmSessRcptRecovered, 108);
QLM_RECORD_AT_(QlmSessRcptRecovered, field1173, 90);
QLM_RECORD_AT_(QlmSessRcptRecovered, status, 91);
QLM_RECORD_AT_(QlmSessRcptRecovered, field287, 96);
QLM_RECORD_AT_(QlmSessRcptRecovered, field291, 107);

#undef QLM_RECORD_SIZE_
#undef QLM_RECORD_AT_

/* ------------------------------------------------------------------------- */
/* Record tools                                                              */
/* ------------------------------------------------------------------------- */
/* They need no open interface and never talk to the Request Manager. */

/* QlmResetMem - fill `width` bytes of `area` with blanks (0x20).
 * Use it on every output record and list array before a call, and on a
 * request record before filling its fields. Nothing happens when `width` is
 * not positive. */
QLM_API void QlmResetMem(char *area, int width);

/* QlmAddField - copy the characters of the zero-terminated `text`, without its
 * terminator, to the start of `field`.
 * The rest of the field keeps its bytes: blank the field first (QlmResetMem)
 * and give a text no longer than the field. A null or empty text copies
 * nothing. */
QLM_API void QlmAddField(char *field, const char *text);

/* QlmReplaceField - set the `width`-byte `field` to `value`, blank-padded.
 * The value ends at its first zero byte or after `width` characters, whichever
 * comes first, and loses its trailing blanks. A null value or a width of 0
 * blanks the field. */
QLM_API void QlmReplaceField(char *field, int width, const char *value);

/* QlmSizeOfOrdr - the size of an order list entry by its entry type character:
 * 500 for 'S' (QlmSendOrdrEntry), 348 for 'R' (QlmRecvOrdrEntry),
 * QLM_SIZE_UNKNOWN for any other character (the comparison is case-sensitive).
 * Walk a mixed order list by adding the size of each entry. */
QLM_API QlmRc QlmSizeOfOrdr(char type);

/* QlmSizeOfRcpt - the size of a receipt list entry by its entry type
 * character: 317 for 'S' (QlmSendRcptEntry), 725 for 'R' (QlmRecvRcptEntry),
 * QLM_SIZE_UNKNOWN for any other character (case-sensitive). */
QLM_API QlmRc QlmSizeOfRcpt(char type);

/* ------------------------------------------------------------------------- */
/* Errors                                                                    */
/* ------------------------------------------------------------------------- */

/* QlmErrorExplanation - explain the last error.
 * Returns the error number explained, or 0 when there is none. When the last
 * error is a library error (QLM_ERRORS), its texts are read from the error
 * text file and the library error is forgotten, so that a second call
 * explains the Request Manager's last error instead. Otherwise the texts are
 * those of the Request Manager's last error segment. Special results:
 * QLM_ERR_INTERFACE_NOT_OPEN (texts built in), QLM_ERR_NO_ERROR_FILE (the
 * error text file cannot be opened; texts built in), 4 (the file is
 * malformed; the record holds the texts read so far).
 * When the result is not 0 and `errText` is not null, the 1085-byte error text
 * record (QlmErrText) is copied to `errText`. Never fails. */
QLM_API QlmRc QlmErrorExplanation(char *errText);

/* ========================================================================= */
/* Request functions. Declarations are added below by family; each returns a */
/* QlmRc and takes the record pointers its comment names.                    */
/* ========================================================================= */

/* --- Interface: QlmOpenCInterface, QlmCloseCInterface, QlmRetrieveErrText - */

/* --- Contexts: QlmOpen / QlmClose + Proj, Adbk, Mbox, Msys ---------------- */

/* --- Address book: addresses, distribution lists, trading profiles, ------- */
/*     projects, communication profiles, network logons                      */

/* --- Mailbox: send and receive orders, send and receive receipts, shelves - */

/* --- Sessions: sessions, session operations, session receipts ------------ */

/* --- Drop boxes: drop boxes, their orders, processing a drop box --------- */

/* ------------------------------------------------------------------------- */
/* The interface                                                             */
/* ------------------------------------------------------------------------- */

/* QlmOpenCInterface - open the interface: read the installation root
 * ($QLM_ROOTDIR, else /etc/quillmar/6.1/RootDir) and quillmar.ini there
 * (section Traces, key Clang_Logic=Y switches the trace file bin/qlmc32.trc
 * on), find the Request Manager or start <root>/bin/qlmrqmgr, and perform the
 * handshake. Returns 0; 8 with QLM_ERR_INTERFACE_OPEN or QLM_ERR_NO_ROOTDIR;
 * 12 with QLM_ERR_NO_LINK when the Request Manager did not start or answer. */
QLM_API QlmRc QlmOpenCInterface(void);

/* QlmCloseCInterface - close the interface: send the shutdown request, end the
 * conversation and wait until the Request Manager has ended. All contexts are
 * forgotten. Returns 0, or 8 with QLM_ERR_INTERFACE_NOT_OPEN. */
QLM_API QlmRc QlmCloseCInterface(void);

/* QlmRetrieveErrText - ask the Request Manager for the texts of an error
 * number. `request` is a QlmErrTextReq naming an open project; `textRecord`
 * (a QlmRetrievedErrText, may be null) receives the texts; bytes the reply
 * does not fill keep their contents. */
QLM_API QlmRc QlmRetrieveErrText(char *request, char *textRecord);

/* ------------------------------------------------------------------------- */
/* Contexts                                                                  */
/* ------------------------------------------------------------------------- */
/* Every request names its project by the first 20 bytes of its record (the
 * context name, blank-padded, compared without regard to case). A project is
 * open after QlmOpenProj or QlmAddProj; its address book, mailbox and message
 * system are opened within it. */

/* QlmOpenProj - open the project named at bytes 8-27 of `openRecord`
 * (QlmProjOpen). `result` (may be null) receives the Request Manager's open
 * result (item 452) with its received length, at most 130 bytes. 8 with
 * QLM_ERR_PROJ_OPEN when the project is open already. */
QLM_API QlmRc QlmOpenProj(char *openRecord, char *result);

/* QlmCloseProj - close the project named by `contextName` (QlmContextName).
 * An open address book and mailbox are closed first; the result is then 4 and
 * QlmErrorExplanation reports which (QLM_ERR_PROJ_CLOSED_ADBK_OPEN,
 * QLM_ERR_PROJ_CLOSED_MBOX_OPEN, QLM_ERR_PROJ_CLOSED_BOTH_OPEN). The message system is not closed by this call. */
QLM_API QlmRc QlmCloseProj(char *contextName);

/* QlmOpenAdbk, QlmCloseAdbk, QlmOpenMbox, QlmCloseMbox - open or close the
 * address book or the mailbox of an open project (`contextName`). */
QLM_API QlmRc QlmOpenAdbk(char *contextName);
QLM_API QlmRc QlmCloseAdbk(char *contextName);
QLM_API QlmRc QlmOpenMbox(char *contextName);
QLM_API QlmRc QlmCloseMbox(char *contextName);

/* QlmOpenMsys, QlmCloseMsys - open or close the message system of an open
 * project. While a message system is open every request waits for its answer
 * without limit; QlmCloseMsys restores the normal wait (about 55 seconds)
 * whatever its outcome. */
QLM_API QlmRc QlmOpenMsys(char *contextName);
QLM_API QlmRc QlmCloseMsys(char *contextName);

/* ------------------------------------------------------------------------- */
/* Projects                                                                  */
/* ------------------------------------------------------------------------- */

/* QlmAddProj - create the project `project` (QlmProj; projname is also the
 * context name) and open it. `info` (QlmProjInfo, may be null) receives the
 * project information record. 8 with QLM_ERR_PROJ_OPEN when a project of that
 * name is open in this process. */
QLM_API QlmRc QlmAddProj(char *project, char *info);

/* QlmReplaceProj - change an open project (field461 is never sent). */
QLM_API QlmRc QlmReplaceProj(char *project, char *info);

/* QlmDeleteProj - delete an open project (projname read) and everything in it;
 * the project counts as closed afterwards. */
QLM_API QlmRc QlmDeleteProj(char *project);

/* QlmListProj - list projects; no project needs to be open. `paging`
 * (QlmPaging) holds startentry and numentries (1-65535, digits); at most
 * numentries QlmProjInfo entries are stored in `array` (may be null) and
 * `*count` (required) tells how many. A full page means more may follow. */
QLM_API QlmRc QlmListProj(char *paging, uint16_t *count, char *array);

/* ------------------------------------------------------------------------- */
/* Address book: addresses, distribution lists, trading profiles             */
/* ------------------------------------------------------------------------- */
/* The project named by the record's context name must be open, and its
 * address book open. Conventions shared by every family:
 *  - Add / Replace (request record in, output record or null out): the fields
 *    that are not all blanks are sent; the Request Manager finds the entry to
 *    replace by its key. With an output record, the stored record is returned
 *    into it; fields the answer does not carry keep their bytes (blank the
 *    record with QlmResetMem first). A returned value longer than its field is
 *    cut at the field.
 *  - Delete reads the context name and the key (blank key: QLM_ERR_BLANK_KEY).
 *  - List takes a QlmListQual: selectfield/sortfield are list keywords of the
 *    family (case-insensitive; unknown: QLM_ERR_BAD_SELECTFIELD / _SORTFIELD),
 *    operator one of > < = <> >= <=, sortorder A or D, startentry and
 *    numentries 1-65535. `*count` (required: null gives QLM_ERR_NULL_RECORD)
 *    receives the number of entries stored; at most numentries entries are
 *    written to `array` (may be null: then they are only counted). A full page
 *    means more entries may follow.
 *  - Assign / unassign take a QlmAssignReq (context, container, member); a
 *    blank container or member gives QLM_ERR_BLANK_KEY.
 *  - List-on takes the container's name (20 bytes) and a QlmSmallListQual.
 * Keywords: addresses nickname lastname mailboxid company city state zip;
 * distribution lists name description; trading profiles name. */
QLM_API QlmRc QlmAddAddr(char *request, char *out);
QLM_API QlmRc QlmReplaceAddr(char *request, char *out);
QLM_API QlmRc QlmDeleteAddr(char *request);
QLM_API QlmRc QlmListAddr(char *qualifier, uint16_t *count, char *array);

QLM_API QlmRc QlmAddDistList(char *request, char *out);
QLM_API QlmRc QlmReplaceDistList(char *request, char *out);
QLM_API QlmRc QlmDeleteDistList(char *request);
QLM_API QlmRc QlmListDistList(char *qualifier, uint16_t *count, char *array);
QLM_API QlmRc QlmAsgAddrToDistList(char *record);
QLM_API QlmRc QlmUsgAddrFromDistList(char *record);
QLM_API QlmRc QlmListAddrsOnDistList(char *listName, char *qualifier, uint16_t *count, char *array);

QLM_API QlmRc QlmAddTradProf(char *request, char *out);
QLM_API QlmRc QlmReplaceTradProf(char *request, char *out);
QLM_API QlmRc QlmDeleteTradProf(char *request);
QLM_API QlmRc QlmListTradProf(char *qualifier, uint16_t *count, char *array);
QLM_API QlmRc QlmAsgAddrToTradProf(char *record);
QLM_API QlmRc QlmAsgDistListToTradProf(char *record);
QLM_API QlmRc QlmUsgAddrFromTradProf(char *record);
QLM_API QlmRc QlmUsgDistListFromTradProf(char *record);
QLM_API QlmRc QlmListAddrsOnTradProf(char *profName, char *qualifier, uint16_t *count, char *array);
QLM_API QlmRc QlmListDistListsOnTradProf(char *profName, char *qualifier, uint16_t *count, char *array);

/* ------------------------------------------------------------------------- */
/* Communication profiles and network logons (an open project is needed)     */
/* ------------------------------------------------------------------------- */
/* Communication profiles have no list keywords: selectfield and sortfield are
 * ignored. field820/field821 are sent by add only and never returned.
 * QlmAsgProjToCommProf / QlmUsgProjFromCommProf take a QlmProjAssignReq whose
 * project (the context) must be open. QlmListProjsOnCommProf needs no open
 * project: profile name (20 bytes), QlmPaging, QlmProjInfo entries.
 * Network logons send a QlmVnLogonReq and return QlmVnLogon records; their
 * only list keyword is mailboxid. */
QLM_API QlmRc QlmAddCommProf(char *request, char *out);
QLM_API QlmRc QlmReplaceCommProf(char *request, char *out);
QLM_API QlmRc QlmDeleteCommProf(char *request);
QLM_API QlmRc QlmListCommProf(char *qualifier, uint16_t *count, char *array);
QLM_API QlmRc QlmAsgProjToCommProf(char *record);
QLM_API QlmRc QlmUsgProjFromCommProf(char *record);
QLM_API QlmRc QlmListProjsOnCommProf(char *profName, char *paging, uint16_t *count, char *array);

QLM_API QlmRc QlmAddVnLogon(char *request, char *out);
QLM_API QlmRc QlmReplaceVnLogon(char *request, char *out);
QLM_API QlmRc QlmDeleteVnLogon(char *request);
QLM_API QlmRc QlmListVnLogon(char *qualifier, uint16_t *count, char *array);

/* ------------------------------------------------------------------------- */
/* Mailbox: send and receive orders, send and receive receipts, shelves      */
/* ------------------------------------------------------------------------- */
/* The project named by the record's context name must be open, and its
 * mailbox open (QLM_ERR_PROJ_NOT_OPEN, QLM_ERR_MBOX_NOT_OPEN). The add,
 * replace, delete and list conventions of the address book hold, with these
 * differences:
 *  - Add takes the context name followed by the record (QlmSendOrdrReq,
 *    QlmRecvOrdrReq, QlmSendRcptReq, QlmRecvRcptReq). Replace takes its own
 *    layout (QlmSendOrdrReplaceReq, QlmRecvOrdrReplaceReq), but the record it
 *    returns is a QlmSendOrdr / QlmRecvOrdr. The "reserved" areas are never
 *    sent and never filled. No field is required: an order without a name is
 *    sent, and the Request Manager decides.
 *  - Delete takes a QlmOrdrDeleteReq (blank name: QLM_ERR_BLANK_KEY).
 *  - Lists store entries led by their entry type character: QlmSendOrdrEntry
 *    (500 bytes, 'S'), QlmRecvOrdrEntry (348, 'R'), QlmSendRcptEntry (317,
 *    'S'), QlmRecvRcptEntry (725, 'R'). A listed receive receipt never has
 *    field754 and field770 filled. Fields an entry's reply does not carry keep
 *    the area's bytes: blank the area first.
 *  - Keywords: send orders name description mailboxid class; receive orders
 *    name description mailboxid fileid class; send receipts name startdate
 *    ordername mailboxid class; receive receipts name startdate mailboxid
 *    ordername fileid class; the order shelf name description.
 *
 * QlmListSendRcptsOnSendOrdr - list the send receipts of the send order
 * `orderName` (20 bytes; blank or null: QLM_ERR_BLANK_KEY) on a
 * QlmSmallListQual, into QlmSendRcptEntry entries.
 *
 * Shelves. The mailbox keeps its orders on the order shelf and its receipts
 * on the receipt shelf, both named "$Default$".
 * QlmDeleteOrdrShlf, QlmDeleteRcptShlf - delete the shelf of the project
 *   named by `request` (QlmShlfReq; only the context name is read).
 * QlmListOrdrsOnOrdrShlf - list the orders on the order shelf (QlmListQual,
 *   keywords name and description).
 * QlmListRcptsOnRcptShlf - list the receipts on the receipt shelf
 *   (QlmSmallListQual).
 * Both fill a mixed list: send and receive entries back to back in the order
 * received, each of its own size and blanked before it is filled. Walk it by
 * the type character of each entry:
 *
 *     for (i = 0, at = 0; i < count; ++i) at += QlmSizeOfOrdr(area[at]);
 *
 * At most numentries entries are stored, so an area of numentries entries of
 * the wider kind (500 bytes for orders, 725 for receipts) always suffices. A
 * count equal to numentries means more may follow: ask for the next page. */
QLM_API QlmRc QlmAddSendOrdr(char *request, char *out);
QLM_API QlmRc QlmReplaceSendOrdr(char *request, char *out);
QLM_API QlmRc QlmDeleteSendOrdr(char *request);
QLM_API QlmRc QlmListSendOrdr(char *qualifier, uint16_t *count, char *array);

QLM_API QlmRc QlmAddRecvOrdr(char *request, char *out);
QLM_API QlmRc QlmReplaceRecvOrdr(char *request, char *out);
QLM_API QlmRc QlmDeleteRecvOrdr(char *request);
QLM_API QlmRc QlmListRecvOrdr(char *qualifier, uint16_t *count, char *array);

QLM_API QlmRc QlmAddSendRcpt(char *request, char *out);
QLM_API QlmRc QlmListSendRcpt(char *qualifier, uint16_t *count, char *array);
QLM_API QlmRc QlmListSendRcptsOnSendOrdr(char *orderName, char *qualifier, uint16_t *count, char *array);

QLM_API QlmRc QlmAddRecvRcpt(char *request, char *out);
QLM_API QlmRc QlmListRecvRcpt(char *qualifier, uint16_t *count, char *array);

QLM_API QlmRc QlmDeleteOrdrShlf(char *request);
QLM_API QlmRc QlmDeleteRcptShlf(char *request);
QLM_API QlmRc QlmListOrdrsOnOrdrShlf(char *qualifier, uint16_t *count, char *array);
QLM_API QlmRc QlmListRcptsOnRcptShlf(char *qualifier, uint16_t *count, char *array);

/* ------------------------------------------------------------------------- */
/* Sessions: sessions, session operations, session receipts                  */
/* ------------------------------------------------------------------------- */
/* A session connects the open message system of a project to the network; the
 * operations run in it. They are message system requests: the project named by
 * the record's context name must be open, and its message system open
 * (QLM_ERR_PROJ_NOT_OPEN, QLM_ERR_MSYS_NOT_OPEN). Since an open message
 * system makes every request wait without limit, each returns only when the
 * Request Manager has finished the network work. The result argument (may be
 * null) receives the fields the answer carries, each cut at its field; the
 * others keep their bytes (blank it first). A typical day:
 *
 *     QlmOpenMsys -> QlmStartSess -> QlmDoSendOrdr, QlmDoRecvOrdr,
 *     QlmDoQuryOrdr, QlmDoPurgOrdr ... -> QlmEndSess -> QlmCloseMsys
 *
 * QlmStartSess - start a session (QlmSessStartReq; all fields optional, the
 *   Request Manager decides) into a QlmSessStarted.
 * QlmEndSess - end it (QlmSessEndReq) into a QlmSessResult.
 * QlmDoSendOrdr, QlmDoRecvOrdr - run a send order (QlmSendOrdrDoReq) or a
 *   receive order (QlmRecvOrdrDoReq) in the session; the result
 *   (QlmSendOrdrDone / QlmRecvOrdrDone) describes the receipt it made.
 * QlmDoPurgOrdr - purge (QlmPurgOrdrReq); the result (QlmPurgOrdrDone)
 *   receives one value from its first byte.
 * QlmDoQuryOrdr - ask what the network holds, on a QlmSmallListQual, into
 *   QlmQuryOrdrEntry entries (421 bytes apart; at most numentries stored,
 *   `*count` required as for every list).
 * When the Request Manager fails an operation the call returns its return
 * code (never 1); a record that came with the failure is still read into the
 * result of start, end, send and receive, while purge and recovery leave
 * theirs alone.
 *
 * Session receipts are kept in the mailbox (an open mailbox is needed) except
 * for recovery, a message system request:
 *  - QlmAddSessRcpt takes a QlmSessRcptReq and returns a QlmSessRcpt (status
 *    first, then name); QlmDeleteSessRcpt a QlmSessRcptDeleteReq (blank name:
 *    QLM_ERR_BLANK_KEY).
 *  - QlmListSessRcpt lists QlmSessRcpt records 107 bytes apart; keywords name
 *    status dropboxname startdate.
 *  - QlmRecoverSessRcpt takes a QlmSessRcptRecoverReq and returns a
 *    QlmSessRcptRecovered (may be null).
 *  - QlmAsgSendRcptToSessRcpt, QlmAsgRecvRcptToSessRcpt take a QlmAssignReq
 *    (container = session receipt, member = receipt name). A blank session
 *    receipt name is refused (QLM_ERR_BLANK_KEY) before the project and its
 *    mailbox are looked at; a blank receipt name only after them.
 *  - QlmListRcptsOnSessRcpt lists the receipts of the session receipt
 *    `sessRcptName` (20 bytes; blank or null: QLM_ERR_BLANK_KEY) on a
 *    QlmSmallListQual, into a mixed receipt list as the receipt shelf fills
 *    it. */
QLM_API QlmRc QlmStartSess(char *request, char *out);
QLM_API QlmRc QlmEndSess(char *request, char *out);
QLM_API QlmRc QlmDoSendOrdr(char *request, char *out);
QLM_API QlmRc QlmDoRecvOrdr(char *request, char *out);
QLM_API QlmRc QlmDoPurgOrdr(char *request, char *out);
QLM_API QlmRc QlmDoQuryOrdr(char *qualifier, uint16_t *count, char *array);

QLM_API QlmRc QlmAddSessRcpt(char *request, char *out);
QLM_API QlmRc QlmDeleteSessRcpt(char *request);
QLM_API QlmRc QlmListSessRcpt(char *qualifier, uint16_t *count, char *array);
QLM_API QlmRc QlmRecoverSessRcpt(char *request, char *out);
QLM_API QlmRc QlmAsgSendRcptToSessRcpt(char *record);
QLM_API QlmRc QlmAsgRecvRcptToSessRcpt(char *record);
QLM_API QlmRc QlmListRcptsOnSessRcpt(char *sessRcptName, char *qualifier, uint16_t *count, char *array);

/* ------------------------------------------------------------------------- */
/* Drop boxes                                                                */
/* ------------------------------------------------------------------------- */
/* A drop box collects send and receive orders of the mailbox (an open mailbox
 * is needed).
 *  - QlmAddDropBox, QlmReplaceDropBox take a QlmDropBoxReq and return a
 *    QlmDropBox (may be null); field653 and field672 come from the Request
 *    Manager only, and the reserved bytes never travel.
 *  - QlmDeleteDropBox takes a QlmDropBoxDeleteReq (blank name:
 *    QLM_ERR_BLANK_KEY).
 *  - QlmListDropBox lists QlmDropBox records, 91 bytes apart; the only
 *    keyword is name.
 *  - QlmAsgSendOrdrToDropBox, QlmAsgRecvOrdrToDropBox,
 *    QlmUsgSendOrdrFromDropBox, QlmUsgRecvOrdrFromDropBox take a QlmAssignReq
 *    (container = drop box, member = order name; blank: QLM_ERR_BLANK_KEY).
 *  - QlmListOrdrsOnDropBox lists the orders of the drop box `dropBoxName`
 *    (20 bytes; blank or null: QLM_ERR_BLANK_KEY) on a QlmSmallListQual,
 *    into a mixed order list as the order shelf fills it.
 *  - QlmProcDropBox processes a drop box (QlmDropBoxProcReq) in the open
 *    message system (QLM_ERR_MSYS_NOT_OPEN otherwise): the Request Manager
 *    runs a session for it. The result (QlmSessResult, may be null) gets its
 *    first 95 bytes, name to status, filled; the rest keeps its bytes. */
QLM_API QlmRc QlmAddDropBox(char *request, char *out);
QLM_API QlmRc QlmReplaceDropBox(char *request, char *out);
QLM_API QlmRc QlmDeleteDropBox(char *request);
QLM_API QlmRc QlmListDropBox(char *qualifier, uint16_t *count, char *array);
QLM_API QlmRc QlmAsgSendOrdrToDropBox(char *record);
QLM_API QlmRc QlmAsgRecvOrdrToDropBox(char *record);
QLM_API QlmRc QlmUsgSendOrdrFromDropBox(char *record);
QLM_API QlmRc QlmUsgRecvOrdrFromDropBox(char *record);
QLM_API QlmRc QlmListOrdrsOnDropBox(char *dropBoxName, char *qualifier, uint16_t *count, char *array);
QLM_API QlmRc QlmProcDropBox(char *request, char *out);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QLMC32_H */
