// Opening the database: the files it makes are private, a database this process may
// only read is served for reading, and a file removed or replaced under a running
// server is noticed before anything is written into it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "store.h"
#include "test_support.h"

namespace qlm::rqmgr {
namespace {

using test::modeOf;
constexpr std::uint16_t kProj = 451;

// Adds the project "P1" to the database.
template <class S>  // a Store, or a Store closed again at once
void withProject(S &&s) {
  s.begin(true);
  s.add(kInstallation, kProj, "P1", {}, Store::now());
  s.commit();
}
// Whether the database holds "P1", read in a transaction of its own.
template <class S>
bool hasProject(S &&s) {
  s.begin(false);
  const bool found = s.find(kInstallation, kProj, "P1").has_value();
  s.rollback();
  return found;
}

TEST(StoreOpening, NewFilesArePrivateAndAReplacedFileIsNoticed) {
  // Each way the file at the path stops being the one opened; a change of its mode is none.
  using Move = void (*)(const std::string &dir, const std::string &db);
  const struct {
    const char *how;
    Move move;
  } cases[] = {
      {"renamed away", [](const std::string &, const std::string &db) { ::rename(db.c_str(), (db + ".x").c_str()); }},
      {"removed", [](const std::string &, const std::string &db) { ::unlink(db.c_str()); }},
      {"another renamed over it", [](const std::string &d, const std::string &db) {
         Store(d + "/o.db");
         ::rename((d + "/o.db").c_str(), db.c_str());
       }},
      {"its directory moved", [](const std::string &d, const std::string &) {
         ::rename((d + "/d").c_str(), (d + "/e").c_str());
         ::mkdir((d + "/d").c_str(), 0700);
       }},
      {"its mode changed", [](const std::string &, const std::string &db) { ::chmod(db.c_str(), 0640); }},
  };
  for (const auto &c : cases) {
    test::TempDir dir;
    ASSERT_EQ(::mkdir((dir.path() + "/d").c_str(), 0700), 0);
    const std::string db = dir.path() + "/d/quillmar.db";
    const mode_t old = ::umask(022);
    Store s(db);
    withProject(s);
    ::umask(old);
    EXPECT_EQ(modeOf(db), 0600u);
    EXPECT_EQ(modeOf(db + "-wal"), 0600u);
    EXPECT_TRUE(hasProject(s));  // a look with nothing moved
    c.move(dir.path(), db);
    if (std::string(c.how) == "its mode changed") {
      EXPECT_TRUE(hasProject(s));
      continue;
    }
    // Neither reading nor writing goes on, not even once a new database is at the path.
    EXPECT_THROW(s.begin(true), StoreError) << c.how;
    EXPECT_THROW(s.begin(false), StoreError) << c.how;
    Store{db};  // a new, empty database at the same path
    EXPECT_THROW(s.begin(true), StoreError) << c.how;
  }
}

TEST(StoreOpening, ADatabaseThatCanOnlyBeReadIsServedForReading) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to take another user's identity";
  test::TempDir dir;
  const std::string db = dir.path() + "/quillmar.db";
  withProject(Store(db));
  // The database and its directory belong to root; an unprivileged user may read them.
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(db.c_str(), 0644), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    try {
      Store s(db);
      if (!hasProject(s)) ::_exit(11);
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
  EXPECT_EQ(test::exitStatus(child), 0);
}

// A small file system of its own (tmpfs), filled up after the database was made.
TEST(StoreOpening, AFullDiskStillServesReadingAndLosesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  test::TempDir dir;
  const std::string mnt = dir.path() + "/mnt";
  ::mkdir(mnt.c_str(), 0700);
  if (::system(("mount -t tmpfs -o size=1m tmpfs " + mnt + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no tmpfs could be mounted";
  const std::string db = mnt + "/quillmar.db";
  withProject(Store(db));
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
    found = hasProject(s);
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
  EXPECT_TRUE(hasProject(Store(db)));  // nothing lost
  ::system(("umount " + mnt).c_str());
}

}  // namespace
}  // namespace qlm::rqmgr
