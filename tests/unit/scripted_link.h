// A scripted peer in place of the Request Manager: requests are recorded as
// decoded segments, and replies are served from a queue. Each reply is written
// when it is received, with the reference of the request in hand, so scripts
// never need to know reference numbers.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/trace.h"
#include "interface/context_table.h"
#include "interface/exchange.h"
#include "interface/state.h"
#include "interface/buffer.h"
#include "records.h"
#include "rmil/message.h"
#include "test_support.h"

namespace qlm::test {

// A reply: the header items are written by the link (3001, 100, 102, 103).
struct Reply {
  int responseId = 0;
  int returnCode = 0;
  std::string handle;
  bool more = false;
  Segments segments;        // after the header segment
  int truncateTo = -1;      // deliver only this many bytes
  Reply &segment(Segment s) { segments.push_back(std::move(s)); return *this; }
};

struct ScriptedLink {
  static inline std::vector<Segments> sent;
  static inline std::deque<Reply> replies;
  static inline bool active = true;
  static inline int receives = 0;
  static inline int lateBy = 0;  // empty waits before a queued reply is delivered

  static int send(const void *data, int length) {
    sent.push_back(decode(static_cast<const std::uint8_t *>(data), length));
    return 0;
  }
  static int receive(void *buffer, int *length) {
    ++receives;
    if (replies.empty() || lateBy-- > 0) return -7;
    Reply r = std::move(replies.front());
    replies.pop_front();
    std::uint8_t storage[wire::kBufSize];
    rmil::Message m(storage);
    m.clear();
    m.addNumber(wire::kResponseId, r.responseId);
    m.addNumber(wire::kReference, ifc().requestRef);
    if (!r.handle.empty()) m.addRaw(wire::kHandle, r.handle);
    m.addNumber(wire::kReturnCode, r.returnCode);
    m.endSegment();
    for (const Segment &s : r.segments) {
      for (const Item &i : s) m.addRaw(static_cast<std::uint16_t>(i.first), i.second);
      m.endSegment();
    }
    m.setMoreData(r.more);
    const int n = r.truncateTo >= 0 ? r.truncateTo : m.length();
    std::memcpy(buffer, storage, n);
    *length = n;
    return 0;
  }
  static int isActive() { return active ? 0 : 1; }
  static constexpr Link kLink{send, receive, isActive};
};

// An open interface whose requests go to the scripted peer. A trace file,
// should one be written, goes to a temporary installation root.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(root_ / "bin");
    setenv("QLM_ROOTDIR", root_.path().c_str(), 1);
    closeTrace();
    ScriptedLink::sent.clear();
    ScriptedLink::replies.clear();
    ScriptedLink::active = true;
    ScriptedLink::receives = 0;
    ScriptedLink::lateBy = 0;
    cfSetLink(&ScriptedLink::kLink);
    ASSERT_EQ(cfRmilInit(), 0);
    ifc().interfaceOpen = 1;
    ifc().cfReturnCode = 0;
    cfClearProjTable();
  }
  void TearDown() override {
    closeTrace();
    cfClearProjTable();
    ifc().interfaceOpen = 0;
    cfFreeBuffer();
    cfSetLink(nullptr);
  }
  // A project in the context table with the given handles set.
  static void openContext(const char *name, bool adbk = true, bool mbox = true, bool msys = true) {
    char n[20];
    putField(n, 20, name);
    char h[10] = {'P', 'H'};
    cfAddProjEntry(n, h);
    char a[10] = {'A', 'B'}, m[10] = {'M', 'B'}, s[10] = {'M', 'S'};
    if (adbk) cfModProjEntry(n, kSelAdbk, a);
    if (mbox) cfModProjEntry(n, kSelMbox, m);
    if (msys) cfModProjEntry(n, kSelMsys, s);
  }
  static void reply(Reply r) { ScriptedLink::replies.push_back(std::move(r)); }
  static const Segments &lastSent() { return ScriptedLink::sent.back(); }
  // The items of a segment of the last request as "id=value ...", the reference as "ref".
  static std::string sent(std::size_t segment = 0) {
    std::string out;
    for (const Item &i : lastSent().at(segment)) {
      const std::string item = std::to_string(i.first) + "=" + i.second;
      out += (out.empty() ? "" : " ") + (item == "100=" + std::to_string(ifc().requestRef) ? "ref" : item);
    }
    return out;
  }
  static int error() { return ifc().cfReturnCode; }
  // "code/error number" of a call.
  static std::string refused(QlmRc rc) { return std::to_string(rc) + "/" + std::to_string(error()); }
  // Closes the trace file so that the next line starts a fresh one.
  static void closeTrace() {
    SetTrace(1);
    SetTrace(0);
  }
  std::string traceFile() const { return root_ / "bin/qlmc32.trc"; }
  TempDir root_;
};

// The name IDs of a segment's items.
inline std::vector<int> ids(const Segment &s) {
  std::vector<int> out;
  for (const Item &i : s) out.push_back(i.first);
  return out;
}
// Name IDs written with runs: a negative -n continues the run up to n
// ({772, -775, 780} is 772 773 774 775 780).
inline std::vector<int> runs(std::initializer_list<int> items) {
  std::vector<int> out;
  for (int id : items)
    for (out.push_back(id > 0 ? id : out.back() + 1); out.back() < -id;) out.push_back(out.back() + 1);
  return out;
}
// A record segment of a reply: its type, its key, further items.
inline Segment entry(int type, const char *key, Segment more = {}) {
  Segment s{{9983, std::to_string(type)}, {type, key}};
  s.insert(s.end(), more.begin(), more.end());
  return s;
}
// An error segment of a reply carrying this error number.
inline Segment errorSegment(const char *number) { return {{9983, "40"}, {40, number}}; }
// A list call with a qualifier of these keywords and numentries, counting into its argument.
inline std::function<QlmRc(uint16_t *)> listing(QlmRc (*list)(char *, uint16_t *, char *), const char *select,
                                                const char *sort, const char *num = "10") {
  return [=](uint16_t *n) {
    auto q = listQualifier(select, sort, num);
    return list(raw(&q), n, nullptr);
  };
}
// Each text at its offset in `area`.
inline void expectAt(const std::string &area, std::initializer_list<std::pair<std::size_t, std::string>> want) {
  for (const auto &[at, text] : want) EXPECT_EQ(area.substr(at, text.size()), text) << "at " << at;
}

}  // namespace qlm::test
