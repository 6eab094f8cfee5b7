// Private-profile (INI) files with the Windows rules: sections and keys compared without regard
// to case, a missing key reads as its default, integers may be written "0x..." in hexadecimal,
// sections can be erased. A value with blanks at an end, a line break or surrounding double
// quotes is written in double quotes ("\n", "\r" and "\\" inside), so every value reads back as
// it was written. An IniFile object is one access: it reads the file when made, and
// UpdateFile writes every change back at once by replacing the file atomically (temporary file,
// fsync, rename), so a crash never leaves half a file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace plumo::platform {

// A write that the system refused; the message is "<file> に書き込めません".
class IniWriteError : public std::runtime_error {
 public:
  explicit IniWriteError(const std::string& file_name);
  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
};

class IniFile {
 public:
  // Reads the file; a missing or unreadable file reads as empty.
  explicit IniFile(std::string file_name);

  const std::string& FileName() const { return FFileName; }

  // A missing key gives the default; a key present with an empty value gives "". Strings of
  // any length read back as they were written, blanks at their ends and line breaks included.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& default_value) const;
  // Decimal, or hexadecimal after "0x"/"0X"; anything else gives the default.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t default_value) const;
  // An integer; non-zero is true.
  bool ReadBool(const std::string& section, const std::string& key, bool default_value) const;
  bool SectionExists(const std::string& section) const;
  // The number of different keys in section.
  size_t KeyCount(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;

  // Changes in memory; UpdateFile writes them.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void EraseSection(const std::string& section);

  // Replaces the file with the current contents (creating it); IniWriteError when refused, and
  // when the file is read-only.
  void UpdateFile();

  // Removes the temporary files that writes of file_name interrupted by a crash left beside it.
  static void RemoveTemporaries(const std::string& file_name);

  // The text UpdateFile writes.
  std::string Text() const;

 private:
  // UpdateFile writes into file_name + this (made unique by mkostemp) before the rename.
  static constexpr const char* kTemporarySuffix = ".XXXXXX";

  struct Entry {
    std::string key;    // empty for a line that is not "key=value" (kept as it stands)
    std::string value;
    std::string raw;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
    // Upper-cased key -> place in entries, of the first entry with that key; keeps reads and
    // writes of a section with many keys (a long playlist) from growing with its size.
    std::unordered_map<std::string, size_t> index;
  };

  const Section* FindSection(const std::string& name) const;
  Section* FindSection(const std::string& name);
  const Entry* FindEntry(const std::string& section, const std::string& key) const;
  static void AddEntry(Section& section, Entry entry, size_t at);

  std::string FFileName;
  std::vector<std::string> FLeading;  // lines before the first section
  std::vector<Section> FSections;
};

}  // namespace plumo::platform
