// Record tables of the interface itself: error texts, contexts and the project
// open record, list qualifiers and paging.
#pragma once
#include <cstddef>
#include <cstdint>

#include "qlmc32.h"
#include "records/layout.h"
#include "wire/wire.h"

namespace qlm::rec {

// The context name: the first 20 bytes of almost every request record.
inline constexpr std::uint16_t kContextWidth = 20;
static_assert(sizeof(QlmContextName) == kContextWidth);

// ---------------------------------------------------------------------------
// Error texts

// The error text record as an error segment (type 40) fills it. Explanation and
// response travel in pieces: items 51-54 and 61-64 are appended in this order,
// each while present; the table names each by its first piece.
inline constexpr Field kErrTextFields[] = {
    QLM_FIELD(QlmErrText, errornumber, wire::kErrorNumber),
    QLM_FIELD(QlmErrText, errormessage, wire::kErrorMessage),
    QLM_FIELD(QlmErrText, errorexplanation, wire::kExplanation),
    QLM_FIELD(QlmErrText, errorresponse, wire::kResponse),
};
static_assert(tiles(kErrTextFields, 0, sizeof(QlmErrText)));

// QlmRetrieveErrText: request 590, a data segment of type 2652.
inline constexpr Field kErrTextReqFields[] = {
    QLM_FIELD(QlmErrTextReq, errornumber, wire::kErrorNumber),
    QLM_FIELD(QlmErrTextReq, errorkey, 2652),
};
static_assert(tiles(kErrTextReqFields, kContextWidth, sizeof(QlmErrTextReq)));
inline constexpr Send kRetrieveErrTextSend{590, 2652, {sizeof(QlmErrTextReq), kErrTextReqFields}};

// Its text record, from a reply segment of type 2651 (or an error segment). Item 41
// is skipped when longer than its field; explanation and response pieces are
// appended up to their field's width; item 2657 names where the texts come from.
inline constexpr Field kRetrievedErrTextFields[] = {
    QLM_FIELD(QlmRetrievedErrText, errornumber, wire::kErrorNumber),
    QLM_FIELD(QlmRetrievedErrText, errormessage, wire::kErrorMessage),
    QLM_FIELD(QlmRetrievedErrText, errorexplanation, wire::kExplanation),
    QLM_FIELD(QlmRetrievedErrText, errorresponse, wire::kResponse),
    QLM_FIELD(QlmRetrievedErrText, field2657, 2657),
};
static_assert(tiles(kRetrievedErrTextFields, 0, sizeof(QlmRetrievedErrText)));
inline constexpr std::uint16_t kRetrievedErrTextType = 2651, kErrTextSource = 2657;

// ---------------------------------------------------------------------------
// Contexts

// Request identifiers of opening and closing (response = request + 1). Only
// opening a project sends a data segment.
inline constexpr std::uint16_t kOpenProj = 250, kCloseProj = 252;
inline constexpr std::uint16_t kOpenAdbk = 100, kCloseAdbk = 102;
inline constexpr std::uint16_t kOpenMbox = 350, kCloseMbox = 352;
inline constexpr std::uint16_t kOpenMsys = 550, kCloseMsys = 552;
inline constexpr std::uint16_t kShutdown = 47;

// The requests that need an open address book, mailbox or message system (their
// handle is sent), and those that need the open project alone (besides opening an
// agent and asking for error texts).
struct Requests {
  std::uint16_t first, last;
  constexpr bool has(int id) const { return id >= first && id <= last; }
};
inline constexpr Requests kAdbkRequests{101, 140}, kMboxRequests{351, 429}, kMsysRequests{551, 577},
                          kProjRequests{251, 289};

// The project open record. Its context name is at byte 8, and it travels first:
// the data segment (type 451) sends 451 and then 450.
inline constexpr Field kProjOpenFields[] = {
    QLM_FIELD(QlmProjOpen, openparm, 450),
    QLM_FIELD(QlmProjOpen, context, 451),
};
static_assert(tiles(kProjOpenFields, 0, sizeof(QlmProjOpen)));
inline constexpr std::uint16_t kProjOpenContext = offsetof(QlmProjOpen, context);

inline constexpr auto kProjOpenItems = pick(kProjOpenFields, {451, 450});

// The open result: item 452 of a segment of type 9998 (9983 is skipped, any other
// item is unexpected).
inline constexpr Field kProjOpenResultFields[] = {QLM_FIELD(QlmProjOpenResult, field452, 452)};
static_assert(tiles(kProjOpenResultFields, 0, sizeof(QlmProjOpenResult)));

inline constexpr Operation kProjOpen{
    {kOpenProj, 451, {sizeof(QlmProjOpen), kProjOpenItems}},
    {9998, {sizeof(QlmProjOpenResult), kProjOpenResultFields}},
};
static_assert(valid(kProjOpen));
static_assert(kProjOpen.send.items.fields[0].nameId == 451 && kProjOpenContext == 8);

// ---------------------------------------------------------------------------
// List qualifiers and paging

// The list qualifier record with the header item each field becomes. `selectfield`
// and `sortfield` go as the name ID of their keyword (items 128, 130, written by the
// list function), `operator_` and `sortorder` as their codes; bytes 67-71 are not read.
inline constexpr Field kListQualFields[] = {
    QLM_FIELD(QlmListQual, selectfield, wire::kSelectField),
    QLM_FIELD(QlmListQual, operator_, wire::kOperator),
    QLM_FIELD(QlmListQual, selectvalue, wire::kSelectValue),
    QLM_FIELD(QlmListQual, sortfield, wire::kSortField),
    QLM_FIELD(QlmListQual, sortorder, wire::kSortOrder),
    QLM_FIELD(QlmListQual, startentry, wire::kStartEntry),
    QLM_FIELD(QlmListQual, numentries, wire::kNumEntries),
};
static_assert(tiles(kListQualFields, kContextWidth, sizeof(QlmListQual),
                    {{offsetof(QlmListQual, unused), sizeof(QlmListQual{}.unused)}}));

// The items the qualifier writes, in their order: 131 and 132 always, the others
// when not blank.
inline constexpr auto kQualifierItems = pick(kListQualFields, {wire::kStartEntry, wire::kNumEntries, wire::kSelectValue,
                                                                wire::kOperator, wire::kSortOrder});
inline constexpr const Field &kSelectFieldField = kListQualFields[0], &kSortFieldField = kListQualFields[3];

inline constexpr Field kSmallListQualFields[] = {
    QLM_FIELD(QlmSmallListQual, startentry, wire::kStartEntry),
    QLM_FIELD(QlmSmallListQual, numentries, wire::kNumEntries),
};
static_assert(tiles(kSmallListQualFields, kContextWidth, sizeof(QlmSmallListQual)));

// The paging area: laid into a blank list qualifier record at `startentry`, or into
// a small one after its context name.
inline constexpr Field kPagingFields[] = {
    QLM_FIELD(QlmPaging, startentry, wire::kStartEntry),
    QLM_FIELD(QlmPaging, numentries, wire::kNumEntries),
};
static_assert(tiles(kPagingFields, 0, sizeof(QlmPaging)));
inline constexpr std::uint16_t kPagingAt = offsetof(QlmListQual, startentry);  // in a list qualifier record
static_assert(sameFields(moved(kPagingFields, kPagingAt), pick(kListQualFields, {wire::kStartEntry, wire::kNumEntries})));
static_assert(sameFields(moved(kPagingFields, kContextWidth), kSmallListQualFields));

}  // namespace qlm::rec
