// Opening the database: the files it makes are private, a database this process may
// only read is served for reading, and a file removed or replaced under a running
// server is noticed before anything is written into it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "store.h"
#include "test_support.h"

namespace qlm::rqmgr {
namespace {

constexpr std::uint16_t kProj = 451;

mode_t modeOf(const std::string &path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 07777;
}

TEST(StoreOpening, NewFilesArePrivateAndAReplacedFileIsNoticed) {
  // Each way the file at the path stops being the one opened; a change of its mode
  // or its times is none.
  const struct {
    const char *how;
    void (*move)(const std::string &dir, const std::string &db);
    bool noticed;
  } cases[] = {
      {"renamed away", [](const std::string &, const std::string &db) { ::rename(db.c_str(), (db + ".moved").c_str()); }, true},
      {"removed", [](const std::string &, const std::string &db) { ::unlink(db.c_str()); }, true},
      {"another renamed over it",
       [](const std::string &dir, const std::string &db) {
         { Store other(dir + "/other.db"); }
         ::rename((dir + "/other.db").c_str(), db.c_str());
       },
       true},
      {"its directory moved", [](const std::string &dir, const std::string &) {
         ::rename((dir + "/d").c_str(), (dir + "/e").c_str());
         ::mkdir((dir + "/d").c_str(), 0700);
       }, true},
      {"its mode changed", [](const std::string &, const std::string &db) { ::chmod(db.c_str(), 0640); }, false},
  };
  for (const auto &c : cases) {
    test::TempDir dir;
    ASSERT_EQ(::mkdir((dir.path() + "/d").c_str(), 0700), 0);
    const std::string db = dir.path() + "/d/quillmar.db";
    const mode_t old = ::umask(022);
    Store s(db);
    s.begin(true);
    s.add(kInstallation, kProj, "P1", {}, Store::now());
    s.commit();
    ::umask(old);
    EXPECT_EQ(modeOf(db), 0600u);
    EXPECT_EQ(modeOf(db + "-wal"), 0600u);
    s.begin(false);  // a look with nothing moved
    s.rollback();

    c.move(dir.path(), db);
    if (!c.noticed) {
      s.begin(true);
      EXPECT_TRUE(s.find(kInstallation, kProj, "P1").has_value()) << c.how;
      s.commit();
      continue;
    }
    // Neither reading nor writing goes on, not even once a new database is at the path.
    EXPECT_THROW(s.begin(true), StoreError) << c.how;
    EXPECT_THROW(s.begin(false), StoreError) << c.how;
    { Store other(db); }
    EXPECT_THROW(s.begin(true), StoreError) << c.how;
  }
}

TEST(StoreOpening, ADatabaseThatCanOnlyBeReadIsServedForReading) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to take another user's identity";
  test::TempDir dir;
  const std::string db = dir.path() + "/quillmar.db";
  {
    Store s(db);
    s.begin(true);
    s.add(kInstallation, kProj, "P1", {}, Store::now());
    s.commit();
  }
  // The database and its directory belong to root; an unprivileged user may read them.
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(db.c_str(), 0644), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    try {
      Store s(db);
      s.begin(false);
      const bool found = s.find(kInstallation, kProj, "P1").has_value();
      s.rollback();
      if (!found) ::_exit(11);
      try {
        s.begin(true);
        ::_exit(12);  // writing must be refused
      } catch (const StoreError &e) {
        if (std::string(e.what()).find("read-only") == std::string::npos) ::_exit(13);
      }
    } catch (const StoreError &e) {
      std::fprintf(stderr, "%s\n", e.what());
      ::_exit(14);
    }
    ::_exit(0);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace qlm::rqmgr

namespace qlm::rqmgr {
namespace {

// A small file system of its own (tmpfs), filled up after the database was made.
TEST(StoreOpening, AFullDiskStillServesReadingAndLosesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  test::TempDir dir;
  const std::string mnt = dir.path() + "/mnt";
  ::mkdir(mnt.c_str(), 0700);
  if (::system(("mount -t tmpfs -o size=1m tmpfs " + mnt + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no tmpfs could be mounted";
  const std::string db = mnt + "/quillmar.db";
  {
    Store s(db);
    s.begin(true);
    s.add(kInstallation, kProj, "P1", {}, Store::now());
    s.commit();
  }
  {  // the disk fills up
    std::FILE *f = std::fopen((mnt + "/filler").c_str(), "w");
    std::vector<char> block(4096, 'x');
    while (f != nullptr && std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    if (f != nullptr) std::fclose(f);
  }
  bool opened = false, found = false, refused = false;
  try {
    Store s(db);
    opened = true;
    try {
      s.pruneOpenMarks();
    } catch (const StoreError &) {
      s.rollback();
    }
    s.begin(false);
    found = s.find(kInstallation, kProj, "P1").has_value();
    s.rollback();
    try {
      s.begin(true);
      for (int i = 0; i < 2000; ++i) s.add(kInstallation, kProj, "Q" + std::to_string(i), {{454, std::string(200, 'd')}}, Store::now());
      s.commit();
    } catch (const StoreError &) {
      refused = true;
      s.rollback();
    }
  } catch (const StoreError &e) {
    ADD_FAILURE() << "a full disk stops the store from opening: " << e.what();
  }
  EXPECT_TRUE(opened && found);
  EXPECT_TRUE(refused) << "writes on a full disk must fail";
  ::unlink((mnt + "/filler").c_str());
  {
    Store s(db);
    s.begin(false);
    EXPECT_TRUE(s.find(kInstallation, kProj, "P1").has_value());  // nothing lost
    s.rollback();
  }
  ::system(("umount " + mnt).c_str());
}

}  // namespace
}  // namespace qlm::rqmgr
