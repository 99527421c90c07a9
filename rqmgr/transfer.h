// The files of the network operations: where a name points, reading a file to
// send in chunks, and writing a received file so that nothing partial ever stands
// under its final name.
//
// Names: an absolute name is taken as it is; any other is taken from the
// installation's exchange directory. A received file is written under a temporary
// name in its directory (".<name>.part"), flushed, renamed to its name, and the
// directory flushed; a failure removes the temporary file. Files are made with mode
// 0600.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qlm::rqmgr {

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

}  // namespace qlm::rqmgr
