// The Windows backend of the platform layer and the server's Windows parts, under
// the real DDEML: finding one process's service, the partner of a conversation,
// processes, the server lock, and passwords.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "password.h"
#include "platform/windows.h"

namespace {

constexpr const char kService[] = "QLMTEST";
constexpr const char kTopic[] = "COURIER";

HDDEDATA CALLBACK Accept(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(type == XTYP_CONNECT ? TRUE : FALSE));
}

// The event a child sets once it has done what its role asks.
std::string ReadyEvent(DWORD pid) { return "Local\\qlm-test-ready-" + std::to_string(pid); }

// This program started again as a DDE server of kService (see main below), ended
// when the test is done.
struct Child {
  PROCESS_INFORMATION pi{};
  explicit Child(const char *role) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string line = std::string("\"") + self + "\" " + role;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi))
      return;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, ReadyEvent(pi.dwProcessId).c_str());
    ResumeThread(pi.hThread);
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }
  ~Child() {
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
};

TEST(Win32Backend, ConnectsToTheServiceOfTheNamedProcessAlone) {
  Child server("serve");
  ASSERT_NE(server.pi.dwProcessId, 0u);
  DWORD inst = 0;
  ASSERT_EQ(DMLERR_NO_ERROR, DdeInitializeA(&inst, Accept, APPCMD_CLIENTONLY, 0));
  HSZ topic = DdeCreateStringHandleA(inst, kTopic, CP_WINANSI);
  auto connect = [&](DWORD pid) {
    char name[64];
    EXPECT_TRUE(qlm::InstanceServiceName(name, sizeof name, "qlmtest", pid, 0));
    HSZ service = DdeCreateStringHandleA(inst, name, CP_WINANSI);
    HCONV c = qlm::ConnectNoWait(inst, service, topic);
    DdeFreeStringHandle(inst, service);
    return c;
  };
  HCONV conv = connect(server.pi.dwProcessId);
  ASSERT_NE(conv, nullptr);
  DWORD pid = 0, instance = 99;
  EXPECT_TRUE(qlm::ConversationPartner(conv, &pid, &instance));
  EXPECT_EQ(server.pi.dwProcessId, pid);
  EXPECT_EQ(0u, instance);
  DdeDisconnect(conv);
  EXPECT_EQ(nullptr, connect(GetCurrentProcessId()));            // the service runs, but not in that process
  HSZ bad = DdeCreateStringHandleA(inst, kService, CP_WINANSI);  // no pid in the name
  EXPECT_EQ(nullptr, qlm::ConnectNoWait(inst, bad, topic));
  EXPECT_FALSE(qlm::ConversationPartner(nullptr, &pid, nullptr));
  DdeFreeStringHandle(inst, bad);
  DdeFreeStringHandle(inst, topic);
  DdeUninitialize(inst);
}

TEST(Win32Backend, ProcessesEndAndKeepTheirStartMark) {
  const long self = static_cast<long>(GetCurrentProcessId());
  EXPECT_FALSE(qlm::ProcessEnded(self));
  EXPECT_TRUE(qlm::ProcessEnded(0));
  EXPECT_FALSE(qlm::ProcessStartMark(self).empty());
  EXPECT_EQ(qlm::ProcessStartMark(self), qlm::ProcessStartMark(self));
  DWORD ended = 0;
  std::string mark;
  {
    Child child("wait");
    ended = child.pi.dwProcessId;
    mark = qlm::ProcessStartMark(static_cast<long>(ended));
    EXPECT_FALSE(mark.empty());
    EXPECT_NE(mark, qlm::ProcessStartMark(self));
  }
  EXPECT_TRUE(qlm::ProcessEnded(static_cast<long>(ended)));
}

TEST(Win32Backend, TheServerLockIsTakenOnceAndAnotherWaitsForTheWindow) {
  EXPECT_EQ(qlm::ServerLock::Acquired, qlm::AcquireServerLock("test.lock", "QLM test window"));
  EXPECT_EQ(qlm::ServerLock::Failed, qlm::AcquireServerLock("test.lock", "QLM test window"));  // held already
  qlm::ReleaseServerLock();
  {
    Child holder("lock");  // holds the lock and makes the window
    EXPECT_EQ(qlm::ServerLock::OtherReady, qlm::AcquireServerLock("test.lock", "QLM test window"));
  }
  EXPECT_EQ(qlm::ServerLock::Acquired, qlm::AcquireServerLock("test.lock", "QLM test window"));  // abandoned
  qlm::ReleaseServerLock();
}

TEST(Win32Backend, PasswordsCheckAgainstTheirHashAlone) {
  const std::string h = qlm::rqmgr::hashPassword("secret");
  ASSERT_EQ(0u, h.rfind("$pbkdf2-sha256$", 0));
  EXPECT_NE(h, qlm::rqmgr::hashPassword("secret"));  // a new salt each time
  EXPECT_TRUE(qlm::rqmgr::checkPassword("secret", h));
  EXPECT_FALSE(qlm::rqmgr::checkPassword("Secret", h));
  EXPECT_FALSE(qlm::rqmgr::checkPassword("", h));
  std::string flipped = h;
  flipped.back() = flipped.back() == '0' ? '1' : '0';
  EXPECT_FALSE(qlm::rqmgr::checkPassword("secret", flipped));
  for (const char *bad : {"", "$y$j9T$salt$hash", "$pbkdf2-sha256$", "$pbkdf2-sha256$x$ab$cd", "$pbkdf2-sha256$0$ab$cd",
                          "$pbkdf2-sha256$99999999$ab$cd", "$pbkdf2-sha256$10$ab"})
    EXPECT_FALSE(qlm::rqmgr::checkPassword("secret", bad)) << bad;
}

}  // namespace

// The roles of the child: "serve" registers kService and pumps messages; "lock" holds
// the server lock and its window; "wait" only waits. Each runs until it is ended.
int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "serve") == 0) {
    DWORD inst = 0;
    DdeInitializeA(&inst, Accept, APPCLASS_STANDARD, 0);
    DdeNameService(inst, DdeCreateStringHandleA(inst, kService, CP_WINANSI), nullptr, DNS_REGISTER);
  } else if (argc == 2 && std::strcmp(argv[1], "lock") == 0) {
    qlm::AcquireServerLock("test.lock", "QLM test window");
    CreateWindowA("STATIC", "QLM test window", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  } else if (argc != 2 || std::strcmp(argv[1], "wait") != 0) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
  }
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, ReadyEvent(GetCurrentProcessId()).c_str());
  SetEvent(ready);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  return 0;
}
