// Record helpers of the tests: fixed-width, blank-padded fields filled and read
// the way an application does it, with the record tools of the library.
#pragma once
#include <string>
#include <utility>

#include "qlmc32.h"

namespace qlm::test {

inline void putField(char *field, int width, const char *text) { QlmReplaceField(field, width, text); }
inline void blankRecord(char *record, int width) { QlmResetMem(record, width); }

// A field set to `text`, blank-padded; further (field, text) pairs likewise.
template <class F, class... More>
void put(F &field, const char *text, More &&...more) {
  putField(field, static_cast<int>(sizeof field), text);
  if constexpr (sizeof...(more) > 0) put(more...);
}
// A record (or an array of records) set to blanks.
template <class R>
void blank(R &record) { blankRecord(reinterpret_cast<char *>(&record), static_cast<int>(sizeof record)); }
template <class R>
R blankRecord() {
  R r;
  blank(r);
  return r;
}
// A field's text without its trailing blanks.
template <class F>
std::string text(const F &field) {
  std::string s(field, sizeof field);
  return s.substr(0, s.find_last_not_of(' ') + 1);
}
inline char *raw(void *record) { return static_cast<char *>(record); }
// The number of the last error, as QlmErrorExplanation gives it without a record.
inline int lastError() { return static_cast<int>(QlmErrorExplanation(nullptr)); }
// A call's return code with the number of the error it left, to compare with code(rc, error).
inline std::pair<QlmRc, int> codeOf(QlmRc rc) { return {rc, lastError()}; }
inline std::pair<QlmRc, int> code(QlmRc rc, int error) { return {rc, error}; }
// A blank request record with its context name set.
template <class R>
R inContext(const char *context) {
  R r = blankRecord<R>();
  put(r.context, context);
  return r;
}

// A request assigning `member` to `container` (or taking it away).
inline QlmAssignReq assignment(const char *container, const char *member, const char *context = "Proj") {
  auto a = inContext<QlmAssignReq>(context);
  put(a.container, container, a.member, member);
  return a;
}

// A list qualifier of `context` from entry 1: keywords and numentries.
inline QlmListQual listQualifier(const char *select = "", const char *sort = "", const char *num = "10",
                                 const char *context = "Proj") {
  auto q = inContext<QlmListQual>(context);
  put(q.selectfield, select, q.sortfield, sort, q.startentry, "1", q.numentries, num);
  return q;
}
// Paging from entry 1 over `num` entries.
inline QlmPaging paging(const char *num = "10") {
  auto p = blankRecord<QlmPaging>();
  put(p.startentry, "1", p.numentries, num);
  return p;
}
inline QlmSmallListQual smallQualifier(const char *num = "10", const char *context = "Proj") {
  auto q = inContext<QlmSmallListQual>(context);
  put(q.startentry, "1", q.numentries, num);
  return q;
}

}  // namespace qlm::test
