#include "interface/patterns.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "interface/exchange.h"
#include "interface/state.h"
#include "rmil/cfrmil.h"
#include "rmil/header.h"

namespace qlm {

namespace {

constexpr int kName = 20;

// Copies a reply item into its field, cut at the field's width.
void store(char *record, const rec::Field &f, const char *value, int length) {
  const int n = length < f.width ? length : f.width;
  std::memcpy(record + f.offset, value, n < rmil::kMaxCopy ? n : rmil::kMaxCopy);
}

// Walks the current segment's items into `record`; 0 at the segment end,
// 12 when the data ends first.
int readSegment(const Reader &r, const rec::Read &read, char *record) {
  char value[rmil::kValueArea];
  std::uint16_t id = 0;
  std::int16_t len = 0;
  int got;
  while (std::memset(value, 0, sizeof value), (got = cfGetNextItem(&id, value, &len)) == 1) {
    if (id == rmil::kSegType) continue;
    if (const rec::Field *f = read.fields.find(id))
      store(record, *f, value, len);
    else
      cfUnexpectedItem(r.module, __LINE__, read.traceNameId ? id : -1);
  }
  return got == 0 ? kRcOk : got;
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
  const int walked = readSegment(r.reader, read, out);
  return walked != kRcOk ? walked : code;
}

}  // namespace

int cfReadRecord(const RecordReader &r, const rec::Read &read, std::uint16_t responseId, const char *context,
                 char *out) {
  QLM_TRACE_ENTRY(r.reader.module, r.reader.function);
  std::uint16_t code = 0;
  int rc = cfReceiveHeader(context, responseId, &code);
  if (rc == kRcOk) rc = readAnswer(r, read, code, out);
  QLM_TRACE_EXIT(r.reader.module, r.reader.function, rc);
  return rc;
}

namespace {

const EntryKind *kindOf(const ListReader &list, long type) {
  for (const EntryKind &k : list.kinds)
    if (k.entries.read.segType == type) return &k;
  return nullptr;
}

// Fills one entry from the current segment: blanked first in a mixed list, then
// its entry type character and its fields.
int readEntry(const EntryKind &k, char *entry, bool blank) {
  QLM_TRACE_ENTRY(k.segment.module, k.segment.function);
  if (blank) std::memset(entry, ' ', k.entries.size);
  if (k.entries.type) entry[0] = k.entries.type;
  const int rc = readSegment(k.segment, k.entries.read, entry + k.entries.base);
  QLM_TRACE_EXIT(k.segment.module, k.segment.function, rc);
  return rc;
}

}  // namespace

int cfReadEntries(const ListReader &list, std::uint16_t responseId, const char *context, char *array,
                  std::uint16_t *count, long capacity) {
  QLM_TRACE_ENTRY(list.reader.module, list.reader.function);
  *count = 0;
  long at = 0;  // where the next entry starts in the area
  std::uint16_t code = 0;
  int rc = cfReceiveHeader(context, responseId, &code);
  for (int result = kRcOk; rc == kRcOk;) {
    if (!cfMessage().segType(nullptr)) break;  // no (more) entries
    const bool more = cfIsMoreDataToRcv() != 0;
    if (code != 0) {
      if (cfFindErrorSeg() == 0) {
        rc = code;
        break;
      }
      result = kRcNoErrorSegment;
    }
    for (;;) {
      long type = 0;
      const bool typed = cfMessage().segType(&type);
      if (typed && type == rmil::kErrorNumber) break;
      const EntryKind *kind = typed ? kindOf(list, type) : nullptr;
      if (kind == nullptr && !list.mixed) {
        rc = fail(kErrMalformed, kRcFailed);
        break;
      }
      if (kind != nullptr && *count < capacity) {
        if (array != nullptr && (rc = readEntry(*kind, array + at, list.mixed)) != kRcOk) break;
        at += kind->entries.size;
        ++*count;
      }
      const int moved = cfMoveToNextSeg();
      if (moved == -1) break;
      if (moved != 0) {
        rc = moved;
        break;
      }
    }
    if (rc != kRcOk) break;
    if (!more) {
      rc = result;
      break;
    }
    rc = cfReceiveHeader(context, responseId, &code);
    result = kRcOk;
  }
  QLM_TRACE_EXIT(list.reader.module, list.reader.function, rc);
  return rc;
}

namespace {
// The single-kind list reader of a family; `kind` holds its one entry kind.
ListReader familyReader(const Family &f, EntryKind &kind) {
  kind = {f.entity.listed, f.segment};
  return {f.listed, {&kind, 1}, false};
}
}  // namespace

int cfReadFamilyList(const Family &f, const char *context, char *array, std::uint16_t *count,
                     const char *numEntries) {
  EntryKind kind;
  return cfReadEntries(familyReader(f, kind), rec::responseTo(f.entity.list.request), context, array, count,
                       parsePagingNumber(numEntries));
}

int cfProcDeleteRsp(const char *context, std::uint16_t responseId) {
  QLM_TRACE_ENTRY("cfpdelte", "cfProcDeleteRsp");
  std::uint16_t code = 0;
  int rc = cfReceiveHeader(context, responseId, &code);
  if (rc == kRcOk && code != 0) rc = cfRmFailure(code);
  QLM_TRACE_EXIT("cfpdelte", "cfProcDeleteRsp", rc);
  return rc;
}

int cfProcAssignUnassign(const char *context, std::uint16_t responseId) {
  QLM_TRACE_ENTRY("cfpasgn", "cfProcAssignUnassign");
  std::uint16_t code = 0;
  int rc = cfReceiveHeader(context, responseId, &code);
  if (rc == kRcOk && code != 0)
    rc = cfRmFailure(code);
  else if (rc == kRcOk && cfMessage().segType(nullptr))
    rc = fail(kErrMalformed, kRcFailed);
  QLM_TRACE_EXIT("cfpasgn", "cfProcAssignUnassignRsp", rc);
  return rc;
}

int cfKeywordId(const char *field, std::span<const rec::Keyword> keywords) {
  char word[lq::kFieldWidth + 1] = {};
  std::memcpy(word, field, lq::kFieldWidth);
  for (int n = lq::kFieldWidth; n > 0 && (word[n - 1] == ' ' || word[n - 1] == '\0'); --n) word[n - 1] = 0;
  if (word[0] == 0) return 0;
  for (const rec::Keyword &k : keywords)
    if (strcasecmp(word, k.word) == 0) return k.nameId;
  return -1;
}

int cfRecordRequest(const rec::Send &send, const rec::Read &read, const RecordReader &reader,
                    char *request, char *out, int contextOffset) {
  const char *context = request ? request + contextOffset : nullptr;
  const auto id = static_cast<std::int16_t>(send.request);
  int rc = cfBeginRequest(request, context);
  if (rc == kRcOk) rc = cfWriteHeader(context, id, "IFRE", out != nullptr);
  if (rc == kRcOk) rc = cfAddNameID(static_cast<std::int16_t>(send.segType));
  if (rc == kRcOk) {
    for (const rec::Field &f : send.items)
      if (!isBlank(request + f.offset, f.width)) cfAddItem(f.nameId, request + f.offset, f.width);
    rc = cfEndSegDlmt();
  }
  if (rc == kRcOk) rc = cfRmilSend();
  if (rc == kRcOk) rc = cfReadRecord(reader, read, rec::responseTo(send.request), context, out);
  return rc;
}

namespace {
// The data segment of a keyed request: its type, then the key (blank: 20170).
int addKeySegment(std::uint16_t nameId, const char *key, int width) {
  int rc = cfAddNameID(static_cast<std::int16_t>(nameId));
  if (rc == kRcOk && (key == nullptr || isBlank(key, width))) rc = fail(kErrBlankKey, kRcRefused);
  if (rc == kRcOk) rc = cfAddItem(nameId, key, static_cast<std::int16_t>(width));
  if (rc == kRcOk) rc = cfEndSegDlmt();
  return rc;
}
}  // namespace

int cfDeleteRequest(const rec::Keyed &remove, char *request, int contextOffset, std::uint16_t relation,
                    const char *fixedKey) {
  const char *context = request ? request + contextOffset : nullptr;
  const rec::Field &key = remove.key;
  const auto id = static_cast<std::int16_t>(remove.request);
  const char *value = fixedKey ? fixedKey : request ? request + key.offset : nullptr;
  int rc = cfBeginRequest(request, context);
  if (rc == kRcOk) rc = cfWriteHeader(context, id, "I", false);
  if (rc == kRcOk && relation != 0) rc = cfAddRelParmAndValue(value, relation, key.width);
  if (rc == kRcOk) rc = cfWriteHeader(context, id, "NRE", false);
  if (rc == kRcOk) rc = addKeySegment(key.nameId, value, key.width);
  if (rc == kRcOk) rc = cfRmilSend();
  if (rc == kRcOk) rc = cfProcDeleteRsp(context, rec::responseTo(remove.request));
  return rc;
}

namespace {
// Items 128 and 130 for the keyword fields of a list qualifier record.
int addKeywordItems(const rec::Listing &list, const char *q) {
  if (!list.checkKeywords) return kRcOk;
  const struct { int offset; std::uint16_t item; int error; } kFields[] = {
      {lq::kSelectField, 128, kErrSelectField}, {lq::kSortField, 130, kErrSortField}};
  for (const auto &k : kFields) {
    const int id = cfKeywordId(q + k.offset, list.keywords);
    if (id < 0) return fail(k.error, kRcRefused);
    if (id > 0) {
      char text[12];
      std::snprintf(text, sizeof text, "%d", id);
      if (int rc = cfAddItem(k.item, text, 5); rc != kRcOk) return rc;
    }
  }
  return kRcOk;
}
}  // namespace

int cfListRequest(const Family &f, char *q, std::uint16_t *count, char *array) {
  EntryKind kind;
  return cfListRequest({f.entity.list.request, 0, 0}, &f.entity.list, familyReader(f, kind), nullptr, q, count,
                       array);
}

int cfListRequest(const rec::ListOn &on, const rec::Listing *listing, const ListReader &reply,
                  char *container, char *q, std::uint16_t *count, char *array) {
  const auto id = static_cast<std::int16_t>(on.request);
  const bool related = on.relation != 0 && on.relation != rec::kNoRelation;
  int rc = cfBeginRequest(q, q);
  if (rc == kRcOk && count == nullptr) rc = fail(kErrNullRecord, kRcRefused);
  if (rc == kRcOk) rc = cfWriteHeader(q, id, "I", false);
  if (rc == kRcOk && related && (container == nullptr || isBlank(container, kName)))
    rc = fail(kErrBlankKey, kRcRefused);
  if (rc == kRcOk && on.relation != 0) rc = cfAddRelParmAndValue(container, on.relation, kName);
  if (rc == kRcOk) rc = cfWriteHeader(q, id, on.flagFirst ? "FR" : "RF", array != nullptr);
  if (rc == kRcOk && listing != nullptr) rc = addKeywordItems(*listing, q);
  if (rc == kRcOk) rc = listing != nullptr ? cfAddRequestQualifier(q) : cfAddSmallRequestQualifier(q);
  if (rc == kRcOk) rc = cfEndSegDlmt();
  if (rc == kRcOk && on.dataKey != 0) rc = addKeySegment(on.dataKey, container, kName);
  if (rc == kRcOk) rc = cfRmilSend();
  if (rc == kRcOk)
    rc = cfReadEntries(reply, rec::responseTo(on.request), q, array, count,
                       parsePagingNumber(q + (listing != nullptr ? lq::kNumEntries : lq::kSmallNum)));
  return rc;
}

int cfAssignRequest(const rec::Relation &r, char *record, int contextOffset) {
  const char *context = record ? record + contextOffset : nullptr;
  const auto id = static_cast<std::int16_t>(r.request);
  const auto container = [&] {
    return isBlank(record + r.container.offset, r.container.width) ? fail(kErrBlankKey, kRcRefused) : kRcOk;
  };
  int rc = cfBeginRequest(record, context);
  if (rc == kRcOk && r.containerFirst) rc = container();
  if (rc == kRcOk) rc = cfWriteHeader(context, id, "I", false);
  if (rc == kRcOk && !r.containerFirst) rc = container();
  if (rc == kRcOk) rc = cfAddRelParmAndValue(record + r.container.offset, r.container.nameId, r.container.width);
  if (rc == kRcOk) rc = cfWriteHeader(context, id, "NRE", false);
  if (rc == kRcOk) rc = cfAddNameID(static_cast<std::int16_t>(r.member.nameId));
  if (rc == kRcOk && isBlank(record + r.member.offset, r.member.width)) rc = fail(kErrBlankKey, kRcRefused);
  if (rc == kRcOk) rc = cfAddItem(r.member.nameId, record + r.member.offset, r.member.width);
  if (rc == kRcOk) rc = cfEndSegDlmt();
  if (rc == kRcOk) rc = cfRmilSend();
  if (rc == kRcOk) rc = cfProcAssignUnassign(context, rec::responseTo(r.request));
  return rc;
}

int cfListOnRequest(const rec::ListOn &on, const Family &listed, char *container, char *q,
                    std::uint16_t *count, char *array) {
  EntryKind kind;
  return cfListRequest(on, nullptr, familyReader(listed, kind), container, q, count, array);
}

}  // namespace qlm
