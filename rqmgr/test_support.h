// Helpers of the Request Manager's tests: building requests and reading answers
// with the RMIL message code, and a temporary directory.
#pragma once
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "reply.h"
#include "rmil/message.h"

namespace qlm::rqmgr::test {

// A request under construction: header items first, then segments.
class Req {
 public:
  explicit Req(int id, const std::string &ref = "7") {
    m_.clear();
    m_.addNumber(3000, id);
    m_.addRaw(100, ref);
  }
  // The message writes into this object's own storage: a copy would not.
  Req(const Req &) = delete;
  Req &operator=(const Req &) = delete;
  Req &item(std::uint16_t id, std::string_view v) {
    m_.addRaw(id, v);
    return *this;
  }
  Req &seg(int type) {
    m_.addSegType(static_cast<std::int16_t>(type));
    return *this;
  }
  Req &end() {
    m_.endSegment();
    return *this;
  }
  Bytes bytes() const { return Bytes(buf_.begin(), buf_.begin() + m_.length()); }

 private:
  std::array<std::uint8_t, wire::kBufSize> buf_{};
  rmil::Message m_{buf_.data()};
};

// One answer message as read back.
struct Msg {
  int responseId = -1, rc = -1;
  std::string reference, handle;
  bool more = false;
  struct Seg {
    long type = -1;
    std::map<std::uint16_t, std::string> items;
  };
  std::vector<Seg> segs;  // the segments after the header
  int error() const {
    for (const Seg &s : segs)
      if (s.type == 40) return std::stoi(s.items.at(40));
    return 0;
  }
};

inline Msg read(const Bytes &bytes) {
  std::array<std::uint8_t, wire::kBufSize> buf{};
  std::copy(bytes.begin(), bytes.end(), buf.begin());
  rmil::Message m(buf.data());
  m.received(static_cast<int>(bytes.size()));
  Msg out;
  out.more = m.moreData();
  char v[rmil::kValueArea];
  std::uint16_t id;
  int len;
  for (int seg = 0;; ++seg) {
    Msg::Seg s;
    while (m.getNextItem(&id, v, &len) == rmil::Read::Item) {
      const std::string value(v, std::min(len, wire::kMaxValue));
      if (seg > 0 && id == 9983) s.type = std::stol(value);
      else if (seg > 0) s.items[id] = value;
      else if (id == 3001) out.responseId = std::stoi(value);
      else if (id == 100) out.reference = value;
      else if (id == 102) out.handle = value;
      else if (id == 103) out.rc = std::stoi(value);
    }
    if (seg > 0) out.segs.push_back(s);
    if (m.moveToNextSeg() != 0) break;
  }
  return out;
}

// A fresh directory under /tmp with a short name (installation roots are limited
// to 39 characters); removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/qrqXXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace qlm::rqmgr::test
