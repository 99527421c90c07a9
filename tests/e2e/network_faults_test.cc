// Exactly once under faults: a sending and a receiving application, each a process
// with its own Request Manager, run their operations while this test kills one
// Request Manager or the other with SIGKILL at random moments. The applications
// reopen the interface, recover the session left behind and go on. Afterwards
// every message is either waiting or received (file complete, receipt present),
// never both and never neither, and no file under a final name is partial.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "files.h"
#include "installation.h"
#include "network_app.h"
#include "qlmc32.h"

using namespace qlm::test;
namespace fs = std::filesystem;

namespace {

constexpr int kMessages = 60;     // sends
constexpr int kMinReceives = 60;  // receive operations at least

// The bytes of message `i`: a first line naming it, then 10 to 400 KiB of a
// pattern of its own.
std::string content(int i) {
  std::string s = "message " + std::to_string(i) + "\n";
  std::minstd_rand r(static_cast<unsigned>(i) + 1);
  s.resize(s.size() + 10240 + r() % (390 * 1024), ' ');
  for (std::size_t k = 20; k < s.size(); ++k) s[k] = static_cast<char>('a' + r() % 26);
  return s;
}
// The message a file holds by its first line, or -1.
int indexOf(const std::string &bytes) { return bytes.rfind("message ", 0) == 0 ? std::atoi(bytes.c_str() + 8) : -1; }

// Whether `bytes` are the whole of the message they name.
bool whole(const std::string &bytes) {
  const int i = indexOf(bytes);
  return i >= 0 && bytes == content(i);
}

// The live Request Managers of a run directory, by their endpoint names.
std::vector<pid_t> serversOf(const std::string &runDir) {
  std::vector<pid_t> out;
  for (const std::string &name : listDir(runDir, "REQMNGR.")) {
    const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str() + 8));
    if (pid > 0 && kill(pid, 0) == 0) out.push_back(pid);
  }
  return out;
}

// One application under faults: whenever a call fails because its Request Manager
// went away, it closes the interface, opens everything again, starts a new session
// and recovers the one left behind.
struct Steadfast {
  NetApp &app;
  bool live = false;
  std::string left{};  // the session receipt of the session that runs (or ran)
  int recovered = 0;

  // Makes sure a session runs; false when that keeps failing.
  bool ready() {
    // A Request Manager that is being killed may still hold its window for a
    // moment, and the close then fails: wait a little and try again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!live && std::chrono::steady_clock::now() < deadline) {
      QlmCloseCInterface();
      if (app.openAll() != 0 || app.start() != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      if (!left.empty() && app.recover(left) == 0) ++recovered;
      left = app.session();
      live = true;
    }
    return live;
  }
  // After a call: a failed link means the session is left behind.
  QlmRc after(QlmRc rc) {
    if (rc == 12) live = false;
    return rc;
  }
};

// Runs `body` in a child process with its own run directory; returns its pid.
template <class F>
pid_t spawn(const std::string &runDir, F body) {
  return forked([&] {
    setenv("QLM_RUNDIR", runDir.c_str(), 1);
    const int status = body();
    QlmCloseCInterface();
    return status;
  });
}

}  // namespace

TEST(NetworkFaults, EveryMessageIsWaitingOrReceivedExactlyOnceWhateverRequestManagerIsKilled) {
  Installation inst;
  const std::string exchange = inst.root() + "/exchange";
  for (const char *dir : {"/out", "/in"}) fs::create_directories(exchange + dir);
  for (int i = 0; i < kMessages; ++i) std::ofstream(exchange + "/out/" + std::to_string(i), std::ios::binary) << content(i);
  {  // Both projects and their logons exist before anything is sent.
    NetApp s("Sender", "LS", "MB-S"), r("Receiver", "LR", "MB-R");
    ASSERT_EQ(s.openAll(), 0u);
    ASSERT_EQ(r.open(), 0u);
    ASSERT_EQ(QlmCloseCInterface(), 0u);
  }
  const std::string sendRun = inst.newRunDir("send"), recvRun = inst.newRunDir("recv");
  const std::string acked = inst.root() + "/acked", doneMark = inst.root() + "/sender-done";

  const pid_t sender = spawn(sendRun, [&] {
    NetApp app("Sender", "LS", "MB-S");
    Steadfast s{app};
    std::ofstream log(acked);
    for (int i = 0; i < kMessages; ++i) {
      if (!s.ready()) return 2;
      auto done = blankRecord<QlmSendOrdrDone>();
      const QlmRc rc = s.after(app.send("MB-R", "out/" + std::to_string(i), "", "", &done));
      if (rc == 0) log << i << " " << text(done.field8022) << std::endl;
      else if (rc != 12) return 3;  // anything but a lost link is a fault
      std::this_thread::sleep_for(std::chrono::milliseconds(20 + i % 5 * 10));  // sends spread over seconds
    }
    std::ofstream(doneMark) << s.recovered;
    return 0;
  });
  const pid_t receiver = spawn(recvRun, [&] {
    NetApp app("Receiver", "LR", "MB-R");
    Steadfast s{app};
    for (int k = 0; k < 5000; ++k) {
      if (!s.ready()) return 2;
      auto got = blankRecord<QlmRecvOrdrDone>();
      const QlmRc rc = s.after(app.receive("in/" + std::to_string(k), &got));
      if (rc != 0 && rc != 12) return 3;
      const bool empty = rc == 0 && text(got.field722) == "EMPTY";
      if (empty && k >= kMinReceives && fs::exists(doneMark)) return 0;
      if (empty) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 4;
  });

  // Kill one Request Manager or the other at random moments while both run. A
  // Request Manager is killed only after it has served a while, so that the
  // applications always make progress, however slow the machine.
  std::mt19937 random(12345);
  const pid_t children[2] = {sender, receiver};
  int kills[2] = {0, 0}, status[2] = {-1, -1};
  std::map<pid_t, std::chrono::steady_clock::time_point> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(150);
  while ((status[0] == -1 || status[1] == -1) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10 + random() % 60));
    const int side = static_cast<int>(random() % 2);
    const auto now = std::chrono::steady_clock::now();
    for (pid_t pid : serversOf(side == 0 ? sendRun : recvRun)) {
      const auto first = seen.emplace(pid, now).first->second;
      if (now - first > std::chrono::milliseconds(30 + random() % 120)) kills[side] += kill(pid, SIGKILL) == 0;
    }
    for (int c = 0; c < 2; ++c)
      if (status[c] == -1 && waitpid(children[c], &status[c], WNOHANG) != children[c]) status[c] = -1;
  }
  for (int c = 0; c < 2; ++c) {
    if (status[c] == -1) {  // hung: the test fails, nothing stays behind
      kill(children[c], SIGKILL);
      waitpid(children[c], &status[c], 0);
    }
    EXPECT_TRUE(WIFEXITED(status[c]) && WEXITSTATUS(status[c]) == 0) << (c ? "receiver" : "sender") << " " << status[c];
  }
  EXPECT_GE(kills[0], 5);
  EXPECT_GE(kills[1], 5);

  // What the network and the receiver's mailbox say now.
  NetApp r("Receiver", "LR", "MB-R");
  ASSERT_EQ(r.openAll(), 0u);
  ASSERT_EQ(r.start(), 0u);
  std::vector<QlmQuryOrdrEntry> waitingEntries;
  ASSERT_EQ(r.query(&waitingEntries), 0u);
  std::set<std::string> waiting;
  for (const auto &e : waitingEntries) waiting.insert(text(e.field2576));
  std::vector<QlmRecvRcpt> receipts;
  ASSERT_EQ(r.receiveReceipts(&receipts), 0u);
  std::map<std::string, std::string> received;  // message id -> file
  for (const QlmRecvRcpt &rc : receipts) {
    if (text(rc.field722) != "RECVD") continue;
    const std::string id = text(rc.field1831);  // the message id
    EXPECT_FALSE(received.count(id)) << "received twice: " << id;
    received[id] = text(rc.fileid);
    EXPECT_FALSE(waiting.count(id)) << "waiting and received: " << id;
  }
  // Every acknowledged send is waiting or received, and what was received is whole.
  std::ifstream log(acked);
  int index = 0, acknowledged = 0;
  std::string id;
  while (log >> index >> id) {
    ++acknowledged;
    EXPECT_TRUE(waiting.count(id) + received.count(id) == 1) << "message " << index << " (" << id << ") lost";
    if (received.count(id)) {
      EXPECT_EQ(indexOf(slurp(exchange + "/" + received[id])), index);
    }
  }
  EXPECT_GE(acknowledged, kMessages / 2);
  // Every waiting message is whole.
  for (const std::string &w : waiting)
    EXPECT_TRUE(whole(slurp(inst.root() + "/data/messages/" + std::to_string(std::atoll(w.c_str())))))
        << "waiting message " << w << " is not whole";
  // No file under a final name is partial ('.': a temporary file left by a killed receive).
  for (const std::string &name : listDir(exchange + "/in"))
    EXPECT_TRUE(name[0] == '.' || whole(slurp(exchange + "/in/" + name))) << name << " is not a whole message";
  std::cout << "[ network ] " << acknowledged << " sends acknowledged, " << received.size() << " received, "
            << waiting.size() << " waiting; Request Managers killed: " << kills[0] << " sending, " << kills[1]
            << " receiving; sessions recovered by the sender: " << slurp(doneMark) << "\n";
  EXPECT_EQ(QlmCloseCInterface(), 0u);
}
