// The Request Manager's own error numbers and return codes.
//
// Every refusal is answered with return code 8 and an error segment; a database
// failure with return code 12. The texts of the error segment come from the
// installation's error text file (<root>/shared/errortxt.fil); the short messages
// below stand in only when the file does not hold the number.
#pragma once

namespace qlm::rqmgr {

inline constexpr int kRcOk = 0;
inline constexpr int kRcRefused = 8;     // the request was refused; nothing was changed
inline constexpr int kRcDbFailure = 12;  // the database failed; nothing was changed

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
  XX(30016, ProjectNotOpen, "The project is not open")

enum class Err : int {
  None = 0,
#define QLM_RQMGR_ENUM(n, name, text) name = n,
  QLM_RQMGR_ERRORS(QLM_RQMGR_ENUM)
#undef QLM_RQMGR_ENUM
};

// The built-in message of one of the numbers above, or null.
const char *builtInMessage(int number);

// The return code that goes with an error: 12 for a database failure, else 8.
constexpr int returnCodeOf(Err e) { return e == Err::Database ? kRcDbFailure : kRcRefused; }

}  // namespace qlm::rqmgr
