#include "ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace plumo::platform {

namespace {

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string Upper(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

// The folder a file name lies in ("." for a bare name).
std::string FolderOf(const std::string& file_name) {
  const size_t slash = file_name.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : file_name.substr(0, slash));
}

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool Quoted(const std::string& s) { return s.size() >= 2 && s.front() == '"' && s.back() == '"'; }

// A value as it stands in the file: blanks around it are not part of it, and one pair of double
// quotes around it is taken off. Inside quotes "\n" stands for a line feed, "\r" for a carriage
// return and "\\" for a backslash, which is how values with blanks at an end or line breaks are
// written; any other backslash is itself (a quoted "C:\Music" stays as it was).
std::string DecodeValue(const std::string& text) {
  std::string s = Trim(text);
  if (!Quoted(s)) return s;
  std::string out;
  out.reserve(s.size() - 2);
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    const char next = i + 2 < s.size() ? s[i + 1] : '\0';
    if (s[i] == '\\' && (next == 'n' || next == 'r' || next == '\\')) {
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The text that reads back as value: the value itself, unless reading would change it.
std::string EncodeValue(const std::string& value) {
  const bool plain = (value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back()))) && !Quoted(value) &&
                     value.find_first_of("\r\n") == std::string::npos;
  if (plain) return value;
  std::string out = "\"";
  for (const char c : value) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out + "\"";
}

bool ParseInteger(const std::string& text, int32_t& result) {
  const std::string s = Trim(text);
  if (s.empty()) return false;
  int base = 10;
  size_t start = 0;
  bool negative = false;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    start = 2;
  } else if (s[0] == '-' || s[0] == '+') {
    negative = s[0] == '-';
    start = 1;
  }
  if (start >= s.size()) return false;
  uint64_t value = 0;
  for (size_t i = start; i < s.size(); ++i) {
    const char c = s[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return false;
  }
  if (base == 16) {
    // Hexadecimal covers the whole 32-bit pattern: 0xFFFFFFFF is -1.
    result = static_cast<int32_t>(static_cast<uint32_t>(value));
    return true;
  }
  if (negative) {
    if (value > 0x80000000ull) return false;
    result = static_cast<int32_t>(-static_cast<int64_t>(value));
  } else {
    if (value > 0x7FFFFFFFull) return false;
    result = static_cast<int32_t>(value);
  }
  return true;
}

}  // namespace

IniWriteError::IniWriteError(const std::string& file_name)
    : std::runtime_error(file_name + " に書き込めません"), FFileName(file_name) {}

IniFile::IniFile(std::string file_name) : FFileName(std::move(file_name)) {
  std::ifstream in(FFileName, std::ios::binary);
  if (!in) return;
  std::string line;
  Section* current = nullptr;
  bool first = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A UTF-8 byte-order mark (editors write one) is not part of the first line.
    if (first && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    first = false;
    const std::string t = Trim(line);
    if (!t.empty() && t.front() == '[') {
      const size_t close = t.find(']');
      const std::string name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      // Two headers of one name are one section, as the reader sees it.
      current = FindSection(name);
      if (current == nullptr) {
        FSections.push_back(Section{name, {}, {}});
        current = &FSections.back();
      }
      continue;
    }
    if (current == nullptr) {
      FLeading.push_back(line);
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || t.empty() || t.front() == ';') {
      current->entries.push_back(Entry{{}, {}, line});
    } else {
      std::string key = Trim(line.substr(0, eq));
      if (key.empty()) {
        current->entries.push_back(Entry{{}, {}, line});
        continue;
      }
      AddEntry(*current, Entry{std::move(key), DecodeValue(line.substr(eq + 1)), line}, current->entries.size());
    }
  }
}

const IniFile::Section* IniFile::FindSection(const std::string& name) const {
  for (const Section& s : FSections)
    if (SameText(s.name, name)) return &s;
  return nullptr;
}

IniFile::Section* IniFile::FindSection(const std::string& name) {
  for (Section& s : FSections)
    if (SameText(s.name, name)) return &s;
  return nullptr;
}

const IniFile::Entry* IniFile::FindEntry(const std::string& section, const std::string& key) const {
  const Section* s = FindSection(section);
  if (s == nullptr || key.empty()) return nullptr;
  const auto it = s->index.find(Upper(key));
  return it == s->index.end() ? nullptr : &s->entries[it->second];
}

void IniFile::AddEntry(Section& section, Entry entry, size_t at) {
  // Only lines without a key can stand behind the place (trailing blank lines): the places of
  // the keyed entries do not move.
  if (!entry.key.empty()) section.index.emplace(Upper(entry.key), at);
  section.entries.insert(section.entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& default_value) const {
  const Entry* e = FindEntry(section, key);
  return e != nullptr ? e->value : default_value;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                             int32_t default_value) const {
  const Entry* e = FindEntry(section, key);
  if (e == nullptr) return default_value;
  int32_t value = 0;
  return ParseInteger(e->value, value) ? value : default_value;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

size_t IniFile::KeyCount(const std::string& section) const {
  const Section* s = FindSection(section);
  return s == nullptr ? 0 : s->index.size();
}

bool IniFile::SectionExists(const std::string& section) const { return FindSection(section) != nullptr; }

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
  return FindEntry(section, key) != nullptr;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  const std::string v = EncodeValue(value);
  Section* s = FindSection(section);
  if (s == nullptr) {
    FSections.push_back(Section{section, {}, {}});
    s = &FSections.back();
  }
  const auto it = key.empty() ? s->index.end() : s->index.find(Upper(key));
  if (it != s->index.end()) {
    Entry& e = s->entries[it->second];
    e.value = value;
    e.raw = e.key + "=" + v;
    return;
  }
  // A new key goes after the section's last key, before trailing blank lines.
  size_t at = s->entries.size();
  while (at > 0 && s->entries[at - 1].key.empty() && Trim(s->entries[at - 1].raw).empty()) --at;
  AddEntry(*s, Entry{key, value, key + "=" + v}, at);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(const std::string& section) {
  for (auto it = FSections.begin(); it != FSections.end(); ++it) {
    if (SameText(it->name, section)) {
      FSections.erase(it);
      return;
    }
  }
}

void IniFile::RemoveTemporaries(const std::string& file_name) {
  const size_t slash = file_name.rfind('/');
  const std::string dir = FolderOf(file_name);
  const std::string prefix = file_name.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
  const size_t random = std::char_traits<char>::length(kTemporarySuffix) - 1;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + random || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
      continue;
    std::error_code type_error;
    if (it->is_regular_file(type_error)) std::filesystem::remove(it->path(), type_error);
  }
}

std::string IniFile::Text() const {
  std::string out;
  for (const std::string& l : FLeading) out += l + "\n";
  for (const Section& s : FSections) {
    out += "[" + s.name + "]\n";
    for (const Entry& e : s.entries) out += e.raw + "\n";
  }
  return out;
}

void IniFile::UpdateFile() {
  // A file made read-only is not replaced, whoever runs the program (root too).
  struct stat existing {};
  const bool exists = ::stat(FFileName.c_str(), &existing) == 0;
  if (exists && S_ISREG(existing.st_mode) &&
      ((existing.st_mode & 0222) == 0 || ::access(FFileName.c_str(), W_OK) != 0))
    throw IniWriteError(FFileName);
  const std::string text = Text();
  std::string temp = FFileName + kTemporarySuffix;
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw IniWriteError(FFileName);
  bool ok = true;
  size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  // Keep the permissions of the file being replaced; a new file gets the usual 0644 (umask).
  if (ok) {
    if (exists) {
      ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ok = ::fchmod(fd, 0666 & ~mask) == 0;
    }
  }
  if (ok) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(temp.c_str(), FFileName.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    throw IniWriteError(FFileName);
  }
  // Make the rename itself durable.
  const int dfd = ::open(FolderOf(FFileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

}  // namespace plumo::platform
