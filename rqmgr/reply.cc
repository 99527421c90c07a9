#include "reply.h"

#include <algorithm>
#include <cstdio>

#include "request.h"

namespace qlm::rqmgr {

void Reply::start(int responseId, std::string_view reference, int returnCode, std::string_view handle) {
  responseId_ = responseId;
  reference_.assign(reference);
  handle_.assign(handle);
  returnCode_ = returnCode;
  records_ = 0;
  used_ = 0;
  if (parts_.size() > kKeptParts) parts_.resize(kKeptParts);  // what a long answer took goes back
  startMessage();
}

void Reply::startMessage() {
  if (used_ > 0) current().setMoreData(true);
  if (used_ == parts_.size()) parts_.push_back(std::make_unique<Part>());
  ++used_;
  rmil::Message &m = current();
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
  if (current().writePos() + need > wire::kBufSize) {
    if (recordsInCurrent_ == 0) return false;
    startMessage();
    if (current().writePos() + need > wire::kBufSize) return false;
  }
  rmil::Message &m = current();
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
  rmil::Message &m = current();
  m.addSegType(static_cast<std::int16_t>(wire::kErrorSegType));
  for (const Value &v : errorRecord(text)) m.addRaw(v.id, v.text);
  m.endSegment();
}

std::span<Bytes> Reply::finish(std::vector<Bytes> &out) const {
  out.resize(std::max(used_, std::min(out.size(), kKeptParts)));
  for (std::size_t i = 0; i < used_; ++i)
    out[i].assign(parts_[i]->storage.begin(), parts_[i]->storage.begin() + parts_[i]->msg.length());
  return std::span<Bytes>(out).first(used_);
}

}  // namespace qlm::rqmgr
