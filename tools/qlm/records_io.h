// The records of qlm export and import and their two forms (JSON Lines, CSV).
//
// A record is an entry (project, kind, key, created, changed, fields by name), an
// assignment (the container's project, kind and key; the member's kind and key: a
// member lives in its container's scope), or a sequence (project, kind, next).
// "project" is the key of the project the entry belongs to, empty for the
// installation's own entries (projects, communication profiles). Values are bytes:
// JSON writes a byte above 127 as the character of that number (U+0080-U+00FF) and
// reads it back so; CSV writes the bytes as they are (RFC 4180 quoting).
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qlm::admin {

struct Record {
  enum Type { Entry, Assignment, Sequence } type = Entry;
  std::string project, kind, key;
  std::string created, changed;               // Entry
  std::map<std::string, std::string> fields;  // Entry: by field name
  std::string memberKind, member;             // Assignment
  std::int64_t next = 0;                      // Sequence
};

enum class Format { Jsonl, Csv };

// The kind's word (project, address, ...) or its number; and back (0: not known).
std::string KindName(std::uint16_t kind);
std::uint16_t KindNumber(const std::string &name);
// The field's name (qlmc32.h's member name, else field<id>); and back (0: not known).
std::string FieldName(std::uint16_t nameId);
std::uint16_t FieldNumber(const std::string &name);

// CSV's header line, written first and skipped by the reader.
extern const char kCsvHeader[];

// Writes one record: a line of JSON, or CSV rows.
std::string Write(const Record &r, Format f);

// Reads records line by line (CSV: rows, with quoted line breaks). An error names
// the line.
class Reader {
 public:
  Reader(std::string text, Format f) : text_(std::move(text)), format_(f) {}
  // The next record; nothing at the end. Throws std::runtime_error.
  std::optional<Record> next();
  std::size_t line() const { return line_; }
  std::size_t position() const { return pos_; }

 private:
  std::optional<Record> nextJson();
  std::optional<Record> nextCsv();
  std::optional<std::vector<std::string>> csvRow();
  std::string text_;
  Format format_;
  std::size_t pos_ = 0, line_ = 0;
  std::optional<Record> pending_;  // CSV: the entry whose field rows are being read
};

}  // namespace qlm::admin
