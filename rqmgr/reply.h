// Writing the answer to one request: one or more RMIL messages of at most kBufSize
// bytes (wire/wire.h).
//
// Every message starts with its own header segment: the response identifier, the
// request's reference as sent, a handle (only where one is assigned), the return
// code. Record segments follow (segment type, the items, segment end); a record that
// does not fit the current message goes to a new one, and every message but the last
// carries rmilMoreData = 1. On failure the header is followed by one error segment:
// the number, the message, the explanation and the response in pieces.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errortext.h"
#include "rmil/message.h"

namespace qlm::rqmgr {

using Bytes = std::vector<std::uint8_t>;

// One item of a record that goes out.
struct Value {
  std::uint16_t id;
  std::string text;
};
using Record = std::vector<Value>;

// The items of an error segment for `text` (the error text answer carries them too).
Record errorRecord(const ErrorText &text);

// One answer at a time: start() begins the next, reusing the messages (and their
// storage) of the answers before it.
class Reply {
 public:
  Reply() = default;
  Reply(const Reply &) = delete;
  Reply &operator=(const Reply &) = delete;

  void start(int responseId, std::string_view reference, int returnCode, std::string_view handle = {});

  // Appends one record segment; values longer than 130 bytes are cut, since no
  // reader takes more. False (nothing written) when it fits not even an empty message.
  bool record(std::uint16_t segType, const Record &values);
  // Appends the error segment for `text`.
  void error(const ErrorText &text);
  // The messages, each exactly as long as its rmilLen, in `out` (whose buffers are
  // reused); valid until `out` changes.
  std::span<Bytes> finish(std::vector<Bytes> &out) const;

  int records() const { return records_; }

 private:
  struct Part {
    std::array<std::uint8_t, wire::kBufSize> storage{};
    rmil::Message msg{storage.data()};
  };
  void startMessage();

  rmil::Message &current() { return parts_[used_ - 1]->msg; }

  int responseId_ = 0;
  std::string reference_, handle_;
  int returnCode_ = 0;
  int records_ = 0;
  int recordsInCurrent_ = 0;
  std::vector<std::unique_ptr<Part>> parts_;  // the first used_ are this answer's
  std::size_t used_ = 0;
  static constexpr std::size_t kKeptParts = 4;
};

}  // namespace qlm::rqmgr
