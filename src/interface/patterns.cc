#include "interface/patterns.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "interface/buffer.h"
#include "interface/context_table.h"
#include "interface/exchange.h"
#include "interface/header.h"
#include "interface/state.h"
#include "records/common.h"

namespace qlm {

namespace {

// Copies a reply item into its field, cut at the field's width.
void store(char *record, const rec::Field &f, const char *value, int length) {
  const int n = length < f.width ? length : f.width;
  std::memcpy(record + f.offset, value, n < wire::kMaxValue ? n : wire::kMaxValue);
}

bool segTypeIs(std::uint16_t wanted) {
  long type = 0;
  return cfMessage().segType(&type) && (wanted == rec::kAnySegType || type == wanted);
}

// Without a result argument: what the rest of the answer may hold.
int checkUnasked(Unasked unasked, std::uint16_t code) {
  const bool record = cfMessage().segType(nullptr);
  switch (unasked) {
    case Unasked::kNotChecked:
      return code;
    case Unasked::kNoRecord:
      return code == 0 && record ? fail(kErrMalformed, kRcFailed) : code;
    case Unasked::kErrorSegmentAlone:
      if (code == 0) return record ? fail(kErrMalformed, kRcFailed) : kRcOk;
      return cfIsErrorSeg() && cfMoveToNextSeg() == -1 ? code : fail(kErrMalformed, kRcFailed);
  }
  return code;
}

// With one: puts the cursor on the segment to walk; false when the record is missing
// or of the wrong type.
bool findResult(const RecordRules &rules, const rec::Read &read, std::uint16_t code) {
  if (cfIsErrorSeg()) {
    if (rules.walkErrorSegment) return true;
    if (cfMoveToNextSeg() != 0) return false;
  }
  return rules.typeOnlyWhenOk && code != 0 ? cfMessage().segType(nullptr) : segTypeIs(read.segType);
}

int readAnswer(const RecordReader &r, const rec::Read &read, std::uint16_t code, char *out) {
  if (code != 0) {
    const bool texts = cfFindErrorSeg() == 0;
    if (r.rules.failure == Failure::kEndWithCodeOrOne) return texts ? code : kRcNoErrorSegment;
    if (r.rules.failure == Failure::kEndWithCode) return code;
  }
  if (out == nullptr) return checkUnasked(r.rules.unasked, code);
  if (!findResult(r.rules, read, code)) return fail(kErrMalformed, kRcFailed);
  const int walked = cfReadSegment(r.reader, read, out);
  return walked != kRcOk ? walked : code;
}

const EntryKind *kindOf(const ListReader &list, long type) {
  for (const EntryKind &k : list.kinds)
    if (k.entries.read.segType == type) return &k;
  return nullptr;
}

// Fills one entry from the current segment: blanked first in a mixed list, then
// its entry type character and its fields.
int readEntry(const EntryKind &k, char *entry, bool blank) {
  TraceScope trace(k.segment.module, k.segment.function);
  if (blank) std::memset(entry, ' ', k.entries.size);
  if (k.entries.type) entry[0] = k.entries.type;
  return trace.result(cfReadSegment(k.segment, k.entries.read, entry + k.entries.base));
}

// The list being filled: the caller's area, where the next entry starts, how many
// entries it holds and may hold.
struct ListArea {
  char *array;
  std::uint16_t *count;
  long capacity;
  long at = 0;
};

// The entries of the segments of one message, from the cursor on: 0 at its last
// segment or an error segment, else the failure.
int readMessageEntries(const ListReader &list, ListArea &e) {
  for (;;) {
    long type = 0;
    const bool typed = cfMessage().segType(&type);
    if (typed && type == wire::kErrorSegType) return kRcOk;
    const EntryKind *kind = typed ? kindOf(list, type) : nullptr;
    if (kind == nullptr && !list.mixed) return fail(kErrMalformed, kRcFailed);
    if (kind != nullptr && *e.count < e.capacity) {
      if (e.array != nullptr)
        if (int rc = readEntry(*kind, e.array + e.at, list.mixed); rc != kRcOk) return rc;
      e.at += kind->entries.size;
      ++*e.count;
    }
    const int moved = cfMoveToNextSeg();
    if (moved == -1) return kRcOk;
    if (moved != 0) return moved;
  }
}

// The messages of a list answer, the first one's header read already.
int readListMessages(const ListReader &list, std::uint16_t responseId, const char *context, ListArea &e,
                     std::uint16_t code) {
  for (;;) {
    if (!cfMessage().segType(nullptr)) return kRcOk;  // no (more) entries
    const bool more = cfIsMoreDataToRcv() != 0;
    int result = kRcOk;
    if (code != 0) {
      if (cfFindErrorSeg() == 0) return code;
      result = kRcNoErrorSegment;
    }
    if (int rc = readMessageEntries(list, e); rc != kRcOk) return rc;
    if (!more) return result;
    if (int rc = cfReceiveHeader(context, responseId, &code); rc != kRcOk) return rc;
  }
}

// The single-kind list reader of a family; `kind` holds its one entry kind.
ListReader familyReader(const Family &f, EntryKind &kind) {
  kind = {f.entity.listed, f.segment};
  return {f.listed, {&kind, 1}, false};
}

// The data segment of a keyed request: its type, then the key (blank: 20170).
int addKeySegment(std::uint16_t nameId, const char *key, int width) {
  if (int rc = cfAddNameID(static_cast<std::int16_t>(nameId)); rc != kRcOk) return rc;
  if (key == nullptr || isBlank(key, width)) return fail(kErrBlankKey, kRcRefused);
  if (int rc = cfAddItem(nameId, key, static_cast<std::int16_t>(width)); rc != kRcOk) return rc;
  return cfEndSegDlmt();
}

// Items 128 and 130 for the keyword fields of a list qualifier record.
int addKeywordItems(const rec::Listing &list, const char *q) {
  if (!list.checkKeywords) return kRcOk;
  static constexpr struct {
    const rec::Field &field;
    int error;
  } kFields[] = {{rec::kSelectFieldField, kErrSelectField}, {rec::kSortFieldField, kErrSortField}};
  for (const auto &k : kFields) {
    const int id = cfKeywordId(q + k.field.offset, list.keywords);
    if (id < 0) return fail(k.error, kRcRefused);
    if (id > 0)
      if (int rc = cfAddNumber(k.field.nameId, id); rc != kRcOk) return rc;
  }
  return kRcOk;
}

}  // namespace

int cfReadSegment(const Reader &r, const rec::Read &read, char *record) {
  char value[rmil::kValueArea];
  std::uint16_t id = 0;
  std::int16_t len = 0;
  int got;
  while (std::memset(value, 0, sizeof value), (got = cfGetNextItem(&id, value, &len)) == 1) {
    if (id == wire::kSegType) continue;
    if (const rec::Field *f = read.fields.find(id))
      store(record, *f, value, len);
    else
      cfUnexpectedItem(r.module, __LINE__, read.traceNameId ? id : -1);
  }
  return got == 0 ? kRcOk : got;
}

int cfAddDataSegment(const rec::Send &send, const char *record) {
  if (int rc = cfAddNameID(static_cast<std::int16_t>(send.segType)); rc != kRcOk) return rc;
  for (const rec::Field &f : send.items)
    if (!isBlank(record + f.offset, f.width)) cfAddItem(f.nameId, record + f.offset, f.width);
  return cfEndSegDlmt();
}

int cfReadRecord(const RecordReader &r, const rec::Read &read, std::uint16_t responseId, const char *context,
                 char *out) {
  TraceScope trace(r.reader.module, r.reader.function);
  std::uint16_t code = 0;
  if (int rc = cfReceiveHeader(context, responseId, &code); rc != kRcOk) return trace.result(rc);
  return trace.result(readAnswer(r, read, code, out));
}

int cfReadEntries(const ListReader &list, std::uint16_t responseId, const char *context, char *array,
                  std::uint16_t *count, long capacity) {
  TraceScope trace(list.reader.module, list.reader.function);
  *count = 0;
  ListArea e{array, count, capacity};
  std::uint16_t code = 0;
  if (int rc = cfReceiveHeader(context, responseId, &code); rc != kRcOk) return trace.result(rc);
  return trace.result(readListMessages(list, responseId, context, e, code));
}

int cfReadFamilyList(const Family &f, const char *context, char *array, std::uint16_t *count, long capacity) {
  EntryKind kind;
  return cfReadEntries(familyReader(f, kind), rec::responseTo(f.entity.list.request), context, array, count,
                       capacity);
}

int cfProcDeleteRsp(const char *context, std::uint16_t responseId) {
  TraceScope trace("cfpdelte", "cfProcDeleteRsp");
  std::uint16_t code = 0;
  if (int rc = cfReceiveHeader(context, responseId, &code); rc != kRcOk) return trace.result(rc);
  return trace.result(code != 0 ? cfRmFailure(code) : kRcOk);
}

int cfProcAssignUnassign(const char *context, std::uint16_t responseId) {
  TraceScope trace("cfpasgn", "cfProcAssignUnassign", "cfProcAssignUnassignRsp");
  std::uint16_t code = 0;
  if (int rc = cfReceiveHeader(context, responseId, &code); rc != kRcOk) return trace.result(rc);
  if (code != 0) return trace.result(cfRmFailure(code));
  return trace.result(cfMessage().segType(nullptr) ? fail(kErrMalformed, kRcFailed) : kRcOk);
}

int cfKeywordId(const char *field, std::span<const rec::Keyword> keywords) {
  constexpr int kWidth = rec::kSelectFieldField.width;
  static_assert(rec::kSortFieldField.width == kWidth);
  char word[kWidth + 1] = {};
  std::memcpy(word, field, kWidth);
  for (int n = kWidth; n > 0 && (word[n - 1] == ' ' || word[n - 1] == '\0'); --n) word[n - 1] = 0;
  if (word[0] == 0) return 0;
  for (const rec::Keyword &k : keywords)
    if (strcasecmp(word, k.word) == 0) return k.nameId;
  return -1;
}

int cfRecordRequest(const rec::Send &send, const rec::Read &read, const RecordReader &reader,
                    char *request, char *out, int contextOffset) {
  const char *context = request ? request + contextOffset : nullptr;
  const auto id = static_cast<std::int16_t>(send.request);
  if (int rc = cfBeginRequest(request, context); rc != kRcOk) return rc;
  if (int rc = cfWriteHeader(context, id, "IFRE", out != nullptr); rc != kRcOk) return rc;
  if (int rc = cfAddDataSegment(send, request); rc != kRcOk) return rc;
  if (int rc = cfRmilSend(); rc != kRcOk) return rc;
  return cfReadRecord(reader, read, rec::responseTo(send.request), context, out);
}

int cfDeleteRequest(const rec::Keyed &remove, char *request, int contextOffset, std::uint16_t relation,
                    const char *fixedKey) {
  const char *context = request ? request + contextOffset : nullptr;
  const rec::Field &key = remove.key;
  const auto id = static_cast<std::int16_t>(remove.request);
  const char *value = fixedKey ? fixedKey : request ? request + key.offset : nullptr;
  if (int rc = cfBeginRequest(request, context); rc != kRcOk) return rc;
  if (int rc = cfWriteHeader(context, id, "I", false); rc != kRcOk) return rc;
  if (relation != 0)
    if (int rc = cfAddRelParmAndValue(value, relation, key.width); rc != kRcOk) return rc;
  if (int rc = cfWriteHeader(context, id, "NRE", false); rc != kRcOk) return rc;
  if (int rc = addKeySegment(key.nameId, value, key.width); rc != kRcOk) return rc;
  if (int rc = cfRmilSend(); rc != kRcOk) return rc;
  return cfProcDeleteRsp(context, rec::responseTo(remove.request));
}

int cfListRequest(const Family &f, char *q, std::uint16_t *count, char *array) {
  EntryKind kind;
  return cfListRequest({f.entity.list.request, 0, 0}, &f.entity.list, familyReader(f, kind), nullptr, q, count,
                       array);
}

int cfListRequest(const rec::ListOn &on, const rec::Listing *listing, const ListReader &reply,
                  char *container, char *q, std::uint16_t *count, char *array) {
  const auto id = static_cast<std::int16_t>(on.request);
  const bool related = on.relation != 0 && on.relation != rec::kNoRelation;
  const std::span<const rec::Field> paging =
      listing != nullptr ? std::span<const rec::Field>(rec::kQualifierItems) : rec::kSmallListQualFields;
  if (int rc = cfBeginRequest(q, q); rc != kRcOk) return rc;
  if (count == nullptr) return fail(kErrNullRecord, kRcRefused);
  if (int rc = cfWriteHeader(q, id, "I", false); rc != kRcOk) return rc;
  if (related && (container == nullptr || isBlank(container, kNameWidth))) return fail(kErrBlankKey, kRcRefused);
  if (on.relation != 0)
    if (int rc = cfAddRelParmAndValue(container, on.relation, kNameWidth); rc != kRcOk) return rc;
  if (int rc = cfWriteHeader(q, id, on.flagFirst ? "FR" : "RF", array != nullptr); rc != kRcOk) return rc;
  if (listing != nullptr)
    if (int rc = addKeywordItems(*listing, q); rc != kRcOk) return rc;
  if (int rc = listing != nullptr ? cfAddRequestQualifier(q) : cfAddSmallRequestQualifier(q); rc != kRcOk) return rc;
  if (int rc = cfEndSegDlmt(); rc != kRcOk) return rc;
  if (on.dataKey != 0)
    if (int rc = addKeySegment(on.dataKey, container, kNameWidth); rc != kRcOk) return rc;
  if (int rc = cfRmilSend(); rc != kRcOk) return rc;
  return cfReadEntries(reply, rec::responseTo(on.request), q, array, count, cfNumEntries(q, paging));
}

int cfAssignRequest(const rec::Relation &r, char *record, int contextOffset) {
  const char *context = record ? record + contextOffset : nullptr;
  const auto id = static_cast<std::int16_t>(r.request);
  const auto blank = [&](const rec::Field &f) { return isBlank(record + f.offset, f.width); };
  if (int rc = cfBeginRequest(record, context); rc != kRcOk) return rc;
  if (r.containerFirst && blank(r.container)) return fail(kErrBlankKey, kRcRefused);
  if (int rc = cfWriteHeader(context, id, "I", false); rc != kRcOk) return rc;
  if (!r.containerFirst && blank(r.container)) return fail(kErrBlankKey, kRcRefused);
  if (int rc = cfAddRelParmAndValue(record + r.container.offset, r.container.nameId, r.container.width); rc != kRcOk)
    return rc;
  if (int rc = cfWriteHeader(context, id, "NRE", false); rc != kRcOk) return rc;
  if (int rc = cfAddNameID(static_cast<std::int16_t>(r.member.nameId)); rc != kRcOk) return rc;
  if (blank(r.member)) return fail(kErrBlankKey, kRcRefused);
  if (int rc = cfAddItem(r.member.nameId, record + r.member.offset, r.member.width); rc != kRcOk) return rc;
  if (int rc = cfEndSegDlmt(); rc != kRcOk) return rc;
  if (int rc = cfRmilSend(); rc != kRcOk) return rc;
  return cfProcAssignUnassign(context, rec::responseTo(r.request));
}

int cfListOnRequest(const rec::ListOn &on, const Family &listed, char *container, char *q,
                    std::uint16_t *count, char *array) {
  EntryKind kind;
  return cfListRequest(on, nullptr, familyReader(listed, kind), container, q, count, array);
}

}  // namespace qlm
