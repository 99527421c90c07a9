// The records of qlm export and import (records_io.h).
#include "records_io.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

#include "request_names.h"

namespace qlm::admin {
namespace {

constexpr std::pair<std::uint16_t, const char *> kFieldNames[] = {
#include "field_names.inc"
};

std::uint16_t Number(const std::string &s) {
  if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) return 0;
  const unsigned long n = std::stoul(s);
  return n > 0 && n < 65536 ? static_cast<std::uint16_t>(n) : 0;
}

// ---- JSON

std::string JsonString(const std::string &bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7f) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

struct JsonParser {
  const std::string &s;
  std::size_t i;

  [[noreturn]] void fail(const char *what) { throw std::runtime_error(std::string("JSON: ") + what); }
  void space() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r')) ++i;
  }
  void expect(char c) {
    space();
    if (i >= s.size() || s[i] != c) fail((std::string("expected ") + c).c_str());
    ++i;
  }
  bool peek(char c) {
    space();
    return i < s.size() && s[i] == c;
  }
  unsigned hex4() {
    if (i + 4 > s.size()) fail("short \\u escape");
    const unsigned v = static_cast<unsigned>(std::stoul(s.substr(i, 4), nullptr, 16));
    i += 4;
    return v;
  }
  // A code point of raw UTF-8 at i.
  unsigned utf8() {
    const auto c = static_cast<unsigned char>(s[i++]);
    const int more = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : c >= 0xc0 ? 1 : -1;
    if (more < 0) fail("not UTF-8");
    unsigned v = c & (0x3f >> more);
    for (int k = 0; k < more; ++k) {
      if (i >= s.size()) fail("not UTF-8");
      v = (v << 6) | (static_cast<unsigned char>(s[i++]) & 0x3f);
    }
    return v;
  }
  std::string string() {
    expect('"');
    std::string out;
    while (true) {
      if (i >= s.size()) fail("unterminated string");
      char c = s[i];
      if (c == '"') {
        ++i;
        return out;
      }
      unsigned v;
      if (c == '\\') {
        if (++i >= s.size()) fail("unterminated escape");
        c = s[i++];
        switch (c) {
          case 'n': v = '\n'; break;
          case 't': v = '\t'; break;
          case 'r': v = '\r'; break;
          case 'b': v = '\b'; break;
          case 'f': v = '\f'; break;
          case 'u': v = hex4(); break;
          default: v = static_cast<unsigned char>(c);
        }
      } else if (static_cast<unsigned char>(c) >= 0x80) {
        v = utf8();
      } else {
        v = static_cast<unsigned char>(c);
        ++i;
      }
      if (v > 0xff) fail("a character above U+00FF (values are bytes)");
      out += static_cast<char>(v);
    }
  }
  std::int64_t integer() {
    space();
    const std::size_t start = i;
    if (i < s.size() && s[i] == '-') ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (start == i) fail("expected a value");
    return std::stoll(s.substr(start, i - start));
  }
};

// ---- CSV

std::string CsvField(const std::string &v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvRow(std::initializer_list<std::string> cells) {
  std::string out;
  for (const std::string &c : cells) out += (out.empty() && &c == cells.begin() ? "" : ",") + CsvField(c);
  return out + "\n";
}

}  // namespace

const char kCsvHeader[] = "record,project,kind,key,created,changed,name,value\n";

std::string KindName(std::uint16_t kind) { return rqmgr::KindWord(kind); }

std::uint16_t KindNumber(const std::string &name) { return rqmgr::KindOfWord(name); }

std::string FieldName(std::uint16_t nameId) {
  for (const auto &[n, name] : kFieldNames)
    if (n == nameId) return name;
  return "field" + std::to_string(nameId);
}

std::uint16_t FieldNumber(const std::string &name) {
  for (const auto &[n, word] : kFieldNames)
    if (name == word) return n;
  return name.rfind("field", 0) == 0 ? Number(name.substr(5)) : 0;
}

std::string Write(const Record &r, Format f) {
  if (f == Format::Csv) {
    switch (r.type) {
      case Record::Entry: {
        std::string out = CsvRow({"entry", r.project, r.kind, r.key, r.created, r.changed, "", ""});
        for (const auto &[name, value] : r.fields) out += CsvRow({"field", r.project, r.kind, r.key, "", "", name, value});
        return out;
      }
      case Record::Assignment:
        return CsvRow({"assignment", r.project, r.kind, r.key, "", "", r.memberKind, r.member});
      case Record::Sequence:
        return CsvRow({"sequence", r.project, r.kind, "", "", "", "next", std::to_string(r.next)});
    }
  }
  std::string out = "{\"record\":";
  switch (r.type) {
    case Record::Entry: {
      out += "\"entry\",\"project\":" + JsonString(r.project) + ",\"kind\":" + JsonString(r.kind) +
             ",\"key\":" + JsonString(r.key) + ",\"created\":" + JsonString(r.created) +
             ",\"changed\":" + JsonString(r.changed) + ",\"fields\":{";
      bool first = true;
      for (const auto &[name, value] : r.fields) {
        out += (first ? "" : ",") + JsonString(name) + ":" + JsonString(value);
        first = false;
      }
      return out + "}}\n";
    }
    case Record::Assignment:
      return out + "\"assignment\",\"project\":" + JsonString(r.project) + ",\"kind\":" + JsonString(r.kind) +
             ",\"key\":" + JsonString(r.key) + ",\"member_kind\":" + JsonString(r.memberKind) +
             ",\"member\":" + JsonString(r.member) + "}\n";
    case Record::Sequence:
      return out + "\"sequence\",\"project\":" + JsonString(r.project) + ",\"kind\":" + JsonString(r.kind) +
             ",\"next\":" + std::to_string(r.next) + "}\n";
  }
  return out;
}

std::optional<Record> Reader::next() { return format_ == Format::Jsonl ? nextJson() : nextCsv(); }

std::optional<Record> Reader::nextJson() {
  while (pos_ < text_.size()) {
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string::npos) end = text_.size();
    const std::string line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++line_;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    JsonParser p{line, 0};
    Record r;
    std::string type;
    p.expect('{');
    while (!p.peek('}')) {
      const std::string name = p.string();
      p.expect(':');
      if (name == "fields") {
        p.expect('{');
        while (!p.peek('}')) {
          const std::string field = p.string();
          p.expect(':');
          r.fields[field] = p.string();
          if (!p.peek('}')) p.expect(',');
        }
        p.expect('}');
      } else if (name == "next") {
        r.next = p.integer();
      } else {
        const std::string value = p.string();
        if (name == "record") type = value;
        else if (name == "project") r.project = value;
        else if (name == "kind") r.kind = value;
        else if (name == "key") r.key = value;
        else if (name == "created") r.created = value;
        else if (name == "changed") r.changed = value;
        else if (name == "member_kind") r.memberKind = value;
        else if (name == "member") r.member = value;
        else throw std::runtime_error("unknown member \"" + name + "\"");
      }
      if (!p.peek('}')) p.expect(',');
    }
    if (type == "entry") r.type = Record::Entry;
    else if (type == "assignment") r.type = Record::Assignment;
    else if (type == "sequence") r.type = Record::Sequence;
    else throw std::runtime_error("unknown record \"" + type + "\"");
    return r;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> Reader::csvRow() {
  if (pos_ >= text_.size()) return std::nullopt;
  ++line_;
  std::vector<std::string> cells(1);
  bool quoted = false;
  while (pos_ < text_.size()) {
    const char c = text_[pos_++];
    if (quoted) {
      if (c == '"' && pos_ < text_.size() && text_[pos_] == '"') {
        cells.back() += '"';
        ++pos_;
      } else if (c == '"') {
        quoted = false;
      } else {
        if (c == '\n') ++line_;
        cells.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      cells.emplace_back();
    } else if (c == '\n') {
      break;
    } else if (c != '\r' || pos_ >= text_.size() || text_[pos_] != '\n') {
      cells.back() += c;
    }
  }
  if (quoted) throw std::runtime_error("CSV: unterminated quotes");
  return cells;
}

std::optional<Record> Reader::nextCsv() {
  while (auto row = csvRow()) {
    std::vector<std::string> &c = *row;
    if (c.size() == 1 && c[0].empty()) continue;
    if (c.size() != 8) throw std::runtime_error("CSV: a row of " + std::to_string(c.size()) + " cells, not 8");
    if (c[0] == "record") continue;  // the header
    if (c[0] == "field") {
      if (!pending_ || pending_->project != c[1] || pending_->kind != c[2] || pending_->key != c[3])
        throw std::runtime_error("CSV: a field row that does not follow its entry");
      pending_->fields[c[6]] = c[7];
      continue;
    }
    Record r;
    r.project = c[1];
    r.kind = c[2];
    r.key = c[3];
    if (c[0] == "entry") {
      r.created = c[4];
      r.changed = c[5];
    } else if (c[0] == "assignment") {
      r.type = Record::Assignment;
      r.memberKind = c[6];
      r.member = c[7];
    } else if (c[0] == "sequence") {
      r.type = Record::Sequence;
      r.next = std::stoll(c[7]);
    } else {
      throw std::runtime_error("CSV: unknown record \"" + c[0] + "\"");
    }
    std::optional<Record> done = std::move(pending_);
    pending_ = std::move(r);
    if (done) return done;
  }
  return std::exchange(pending_, std::nullopt);
}

}  // namespace qlm::admin
