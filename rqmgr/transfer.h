// The files of the network operations: where a name points, reading a file and
// writing one so that nothing partial ever stands under its final name, and the
// bodies of the network's messages.
//
// Names: an absolute name is taken as it is; any other is taken from the
// installation's exchange directory. A file is written under a temporary name in
// its directory (".<name>.part"), flushed, renamed to its name, and the directory
// flushed; a failure removes the temporary file. Files are made with mode 0600.
// Everything is copied in pieces of kCopyBytes: no process ever holds a whole
// message in memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qlm::rqmgr {

inline constexpr std::size_t kCopyBytes = 256 * 1024;

// The path a name of the request stands for.
std::string resolvePath(const std::string &exchangeDir, std::string_view name);

class SourceFile {
 public:
  SourceFile() = default;
  ~SourceFile();
  SourceFile(const SourceFile &) = delete;
  SourceFile &operator=(const SourceFile &) = delete;

  // Opens a regular file for reading; false (errno set) when it cannot be.
  bool open(const std::string &path);
  // The size when it was opened.
  std::int64_t size() const { return size_; }
  // Reads up to `n` bytes: the count, 0 at the end, -1 on a read error.
  long read(void *buffer, std::size_t n);

 private:
  int fd_ = -1;
  std::int64_t size_ = 0;
};

// Whether `path` names an existing directory.
bool isDirectory(const std::string &path);
// Whether a file can be made in `dir`: it exists, is a directory and may be written.
bool writableDirectory(const std::string &dir);
// The directory part of a path ("." when it has none).
std::string directoryOf(const std::string &path);

class TargetFile {
 public:
  TargetFile() = default;
  ~TargetFile();  // removes the temporary file unless committed
  TargetFile(const TargetFile &) = delete;
  TargetFile &operator=(const TargetFile &) = delete;

  // Starts the temporary file for `path`; false on failure.
  bool open(const std::string &path);
  bool write(const void *bytes, std::size_t n);
  // Flushes the file, renames it to its name and flushes the directory.
  bool commit();

 private:
  int fd_ = -1;
  std::string path_, temp_;
};

class TargetFile;

// Copies the rest of `in` to `out`: false when reading or writing fails or more
// than `limit` bytes come; `copied` gets the bytes copied.
bool copyFile(SourceFile &in, TargetFile &out, std::int64_t limit, std::int64_t *copied);

// The bodies of the network's messages: one file per message in the messages
// directory of the installation's data, named by the message id. The database
// holds the messages' heads and is the truth: a body is written (and flushed)
// before the transaction that adds its message commits, and removed after the
// transaction that removes its message commits. A crash in between leaves a body
// that no message names, which sweep() removes later.
class MessageBodies {
 public:
  explicit MessageBodies(std::string dir) : dir_(std::move(dir)) {}
  std::string pathOf(std::int64_t id) const;
  void remove(std::int64_t id) const;
  // Removes the bodies no message names (`exists(id)` false) and temporary files,
  // when older than `ageSeconds` (a younger one may belong to a send that has not
  // committed yet); the number removed.
  template <class F>
  int sweep(F &&exists, long ageSeconds) const {
    int removed = 0;
    for (const auto &[id, path] : olderThan(ageSeconds))
      if (id < 0 || !exists(id)) removed += unlinked(path);
    return removed;
  }

 private:
  // (id, path) of the files older than `ageSeconds`; id -1 for anything else.
  std::vector<std::pair<std::int64_t, std::string>> olderThan(long ageSeconds) const;
  static int unlinked(const std::string &path);
  std::string dir_;
};

}  // namespace qlm::rqmgr
