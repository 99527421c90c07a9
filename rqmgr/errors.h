// The Request Manager's own error numbers and return codes.
//
// Every refusal is answered with return code 16 and an error segment; a failure
// of the Request Manager itself (the database, a transfer that broke off after it
// started) with return code 20. Neither is a code the library gives itself (1, 4,
// 8, 12), so a caller tells the library's refusals from the server's by the code
// alone. The texts of the error segment come from the
// installation's error text file (<root>/shared/errortxt.fil); the short messages
// below stand in only when the file does not hold the number.
#pragma once

namespace qlm::rqmgr {

inline constexpr int kRcOk = 0;
inline constexpr int kRcRefused = 16;  // the request was refused; nothing was changed
inline constexpr int kRcFailed = 20;   // the Request Manager failed; see the error for what remains

// XX(number, name, built-in message)
#define QLM_RQMGR_ERRORS(XX)                                                     \
  XX(30001, Malformed, "The request is malformed or incomplete")                 \
  XX(30002, UnknownRequest, "The request identifier is not known")               \
  XX(30003, BadHandle, "The handle is not valid for this client")                \
  XX(30004, NoProject, "The project does not exist")                             \
  XX(30005, ProjectExists, "The project already exists")                         \
  XX(30006, NoEntry, "The entry does not exist")                                 \
  XX(30007, DuplicateKey, "An entry with that key already exists")               \
  XX(30008, BlankKey, "A required key field is blank")                           \
  XX(30009, NoMember, "The member is not in the address book or mailbox")        \
  XX(30010, AssignmentExists, "The assignment already exists")                   \
  XX(30011, NoAssignment, "The assignment does not exist")                       \
  XX(30012, ProjectInUse, "The project is still open and cannot be deleted")     \
  XX(30013, AlreadyOpen, "The address book, mailbox or message system is already open") \
  XX(30014, Database, "The database failed and the request was not carried out") \
  XX(30015, UnknownField, "The selection or sort field is not known for this list") \
  XX(30016, ProjectNotOpen, "The project is not open")                           \
  XX(30017, UnknownLogon, "The network logon does not exist")                    \
  XX(30018, WrongPassword, "The password of the network logon is wrong")          \
  XX(30019, NoSession, "No session is active for this message system")           \
  XX(30020, SessionActive, "A session is already active for this message system") \
  XX(30021, UnknownMailbox, "The network mailbox does not exist")                 \
  XX(30022, FileNotReadable, "The file to send cannot be read")                   \
  XX(30023, FileNotWritable, "The received file cannot be written there")         \
  XX(30024, MessageTooLarge, "The file is larger than the network accepts")       \
  XX(30025, MailboxTaken, "The network mailbox belongs to another logon")         \
  XX(30026, NoMessage, "The message is not waiting for this mailbox")             \
  XX(30027, NotRecoverable, "The session receipt is not one left active by a Request Manager that ended") \
  XX(30028, TransferFailed, "The transfer broke off after it started")

enum class Err : int {
  None = 0,
#define QLM_RQMGR_ENUM(n, name, text) name = n,
  QLM_RQMGR_ERRORS(QLM_RQMGR_ENUM)
#undef QLM_RQMGR_ENUM
};

// The built-in message of one of the numbers above, or null.
const char *builtInMessage(int number);

// The return code that goes with an error: 20 for a failure of the Request
// Manager (database, transfer), else 16.
constexpr int returnCodeOf(Err e) {
  return e == Err::Database || e == Err::TransferFailed ? kRcFailed : kRcRefused;
}

}  // namespace qlm::rqmgr
