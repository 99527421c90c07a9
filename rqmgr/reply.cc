#include "reply.h"

#include <algorithm>
#include <cstdio>

#include "request.h"

namespace qlm::rqmgr {

Reply::Reply(int responseId, std::string reference, int returnCode, std::string handle)
    : responseId_(responseId), reference_(std::move(reference)), handle_(std::move(handle)),
      returnCode_(returnCode) {
  startMessage();
}

void Reply::startMessage() {
  if (!parts_.empty()) parts_.back()->msg.setMoreData(true);
  parts_.push_back(std::make_unique<Part>());
  rmil::Message &m = parts_.back()->msg;
  m.clear();
  m.addNumber(wire::kResponseId, responseId_);
  m.addRaw(wire::kReference, reference_);
  if (!handle_.empty()) m.addRaw(wire::kHandle, handle_);
  m.addNumber(wire::kReturnCode, returnCode_);
  m.endSegment();
  recordsInCurrent_ = 0;
}

bool Reply::record(std::uint16_t segType, const Record &values) {
  char type[8];
  const int typeLen = std::snprintf(type, sizeof type, "%u", static_cast<unsigned>(segType));
  int need = 4 + typeLen + 4;  // segment-type item and segment end
  for (const Value &v : values) need += 4 + static_cast<int>(std::min(v.text.size(), static_cast<std::size_t>(wire::kMaxValue)));
  if (parts_.back()->msg.writePos() + need > wire::kBufSize) {
    if (recordsInCurrent_ == 0) return false;
    startMessage();
    if (parts_.back()->msg.writePos() + need > wire::kBufSize) return false;
  }
  rmil::Message &m = parts_.back()->msg;
  m.addRaw(wire::kSegType, std::string_view(type, typeLen));
  for (const Value &v : values)
    m.addRaw(v.id, std::string_view(v.text).substr(0, wire::kMaxValue));
  m.endSegment();
  ++records_;
  ++recordsInCurrent_;
  return true;
}

Record errorRecord(const ErrorText &text) {
  Record r{{wire::kErrorNumber, std::to_string(text.number)}};
  if (!text.message.empty()) r.push_back({wire::kErrorMessage, text.message.substr(0, kMessageMax)});
  for (const auto &[first, pieces] : {std::pair{wire::kExplanation, splitPieces(text.explanation)},
                                     std::pair{wire::kResponse, splitPieces(text.response)}}) {
    std::uint16_t id = first;
    for (const std::string &p : pieces) r.push_back({id++, p});
  }
  return r;
}

void Reply::error(const ErrorText &text) {
  rmil::Message &m = parts_.back()->msg;
  m.addSegType(static_cast<std::int16_t>(wire::kErrorSegType));
  for (const Value &v : errorRecord(text)) m.addRaw(v.id, v.text);
  m.endSegment();
}

std::vector<Bytes> Reply::finish() {
  std::vector<Bytes> out;
  for (const auto &p : parts_) out.emplace_back(p->storage.begin(), p->storage.begin() + p->msg.length());
  return out;
}

}  // namespace qlm::rqmgr
