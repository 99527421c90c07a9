// The request patterns shared by every entity family, written once and driven
// by the record tables of src/records:
//   record request  (add, replace: one data segment, optional returned record)
//   keyed delete    (one key item)
//   keyword list    (list qualifier record; keyword fields sent as name IDs)
//   relation        (assign / unassign a member to a container; list-on a container)
// and the reply readers: one returned record, a list over one or more messages,
// and the shared delete and assign readers. Each exported function is one call
// of these with its family's tables.
//
// Bounds: a reader never writes outside the field it fills (a longer value is cut
// at the field), and a list reader never stores more entries than the request's
// `numentries`; entries beyond that bound are dropped. A page that comes back
// full (count equal to numentries) means more entries may follow: ask for the
// next page with startentry + numentries.
#pragma once
#include <cstdint>

#include "records/layout.h"

namespace qlm {

// Trace names of a reader: its module code and function name.
struct Reader {
  const char *module, *function;
};

// An entity family: its tables and the names of its readers.
struct Family {
  const rec::Entity &entity;
  Reader added, replaced, listed, segment;
};

int cfReadRecord(const rec::Read &read, std::uint16_t responseId, const Reader &reader,
                 const char *context, char *out);
int cfReadList(const rec::Entries &entries, std::uint16_t responseId, const Reader &reader,
               const Reader &segment, const char *context, char *array, std::uint16_t *count,
               long capacity);
int cfProcDeleteRsp(const char *context, std::uint16_t responseId);
int cfProcAssignUnassign(const char *context, std::uint16_t responseId);

// Add / replace: the request record's context name at `contextOffset`.
int cfRecordRequest(const rec::Send &send, const rec::Read &read, const Reader &reader,
                    char *request, char *out, int contextOffset = 0);
int cfDeleteRequest(const rec::Keyed &remove, char *request, int contextOffset = 0);
int cfListRequest(const Family &f, char *qualifier, std::uint16_t *count, char *array);
int cfAssignRequest(const rec::Relation &relation, char *record, int contextOffset = 0);
int cfListOnRequest(const rec::ListOn &on, const Family &listed, char *container, char *smallQualifier,
                    std::uint16_t *count, char *array);

// The family's add, replace and delete.
inline int cfAdd(const Family &f, char *request, char *out) {
  return cfRecordRequest(f.entity.add, f.entity.returned, f.added, request, out);
}
inline int cfReplace(const Family &f, char *request, char *out) {
  return cfRecordRequest(f.entity.replace, f.entity.returned, f.replaced, request, out);
}
inline int cfDelete(const Family &f, char *request) { return cfDeleteRequest(f.entity.remove, request); }

// The list reply of a family, bounded by the `numentries` text of the request.
int cfReadFamilyList(const Family &f, const char *context, char *array, std::uint16_t *count,
                     const char *numEntries);

// Looks a keyword field (25 bytes) up; 0 when blank, -1 when unknown, else the name ID.
int cfKeywordId(const char *field, std::span<const rec::Keyword> keywords);

}  // namespace qlm
