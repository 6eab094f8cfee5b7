#include "playlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "file_stream.h"
#include "memory_stream.h"
#include "named_stream.h"
#include "text_conversion.h"

namespace plumo {

bool HasDrivePart(const std::string& entry) {
  if (!entry.empty() && entry[0] == '/') return true;
  if (entry.size() >= 2 && entry[1] == ':') return true;
  return entry.size() >= 2 && entry[0] == '\\' && entry[1] == '\\';
}

bool IsUrlOrShare(const std::string& entry) { return IsStreamAddress(entry) || entry.rfind("\\\\", 0) == 0; }

std::string JoinFolder(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string ExtractFileDir(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LowerExtension(const std::string& path) {
  const std::string name = ExtractFileName(path);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

std::string NameWithoutExtension(const std::string& path) {
  const std::string name = ExtractFileName(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path p = std::filesystem::current_path(error);
  return error ? std::string() : p.string();
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool RegularFileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsAudioFile(const std::string& path) {
  const std::string ext = LowerExtension(path);
  return ext == ".mp3" || ext == ".mp2" || ext == ".mpa";
}

bool IsPlaylistFile(const std::string& path) {
  const std::string ext = LowerExtension(path);
  return ext == ".m3u" || ext == ".m3u8" || ext == ".pls";
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Natural order without the byte-order tie-break: <0, 0 or >0.
int NaturalCompare(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t ie = i, je = j;
      while (ie < a.size() && IsDigit(a[ie])) ++ie;
      while (je < b.size() && IsDigit(b[je])) ++je;
      // Leading zeros do not change the value.
      size_t is = i, js = j;
      while (is + 1 < ie && a[is] == '0') ++is;
      while (js + 1 < je && b[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js ? -1 : 1;
      const int c = a.compare(is, ie - is, b, js, je - js);
      if (c != 0) return c;
      i = ie;
      j = je;
      continue;
    }
    // "/" sorts before every other character, so a folder's files come before "folder-2/".
    const unsigned char x = a[i] == '/' ? 0 : static_cast<unsigned char>(Lower(a[i]));
    const unsigned char y = b[j] == '/' ? 0 : static_cast<unsigned char>(Lower(b[j]));
    if (x != y) return x < y ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

// A "file://" URI as a local path: "file:///p" and "file://localhost/p" give "/p" decoded; a
// URI naming another host stays as it stands (it names no local file).
std::string FileUriPath(const std::string& line) {
  std::string rest = line.substr(7);
  if (rest.compare(0, 10, "localhost/") == 0) rest.erase(0, 9);
  if (rest.empty() || rest[0] != '/') return line;
  return PercentDecode(rest);
}

bool IsFileUri(const std::string& line) {
  static constexpr char kScheme[] = "file://";
  if (line.size() < 7) return false;
  for (size_t i = 0; i < 7; ++i)
    if (Lower(line[i]) != kScheme[i]) return false;
  return true;
}

// The entry a playlist's name for a file or a stream gives ("" for none).
std::string EntryOf(std::string name, const std::string& folder) {
  if (name.empty()) return name;
  if (IsFileUri(name)) return FileUriPath(name);
  if (HasDrivePart(name) || IsUrlOrShare(name)) return name;
  for (char& c : name)
    if (c == '\\') c = '/';
  return JoinFolder(folder, name);
}

// Calls on_line(line, first) for each line of the stream: a line ends at its first CR or LF and
// reading goes on after the next LF; a byte-order mark at the very start is dropped.
template <class F>
void ForEachLine(TStream& stream, F&& on_line) {
  std::string line;
  bool in_line = true;     // still taking characters of the current line
  bool have_line = false;  // something of a line was read since the last LF
  bool first = true;
  const auto take = [&] {
    if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    on_line(line);
    line.clear();
    first = false;
  };
  char buffer[4096];
  for (;;) {
    const int32_t n = stream.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    for (int32_t i = 0; i < n; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        take();
        in_line = true;
        have_line = false;
        continue;
      }
      have_line = true;
      if (c == '\r') in_line = false;
      else if (in_line) line += c;
    }
  }
  if (have_line) take();
}

void ReadM3u(TStream& stream, const std::string& folder, std::vector<std::string>& playlist, TEntryTitles* titles) {
  std::string title;  // of the last #EXTINF line, for the entry after it
  ForEachLine(stream, [&](std::string& line) {
    if (line.empty()) return;
    if (line[0] == '#') {
      // "#EXTINF:length,title"
      title.clear();
      if (line.compare(0, 8, "#EXTINF:") == 0 && line.find(',') != std::string::npos) title = line.substr(line.find(',') + 1);
      return;
    }
    std::string entry = EntryOf(std::move(line), folder);
    // Files name themselves by their tags; a stream address by nothing until it plays.
    if (titles != nullptr && !title.empty() && IsStreamAddress(entry)) (*titles)[entry] = title;
    title.clear();
    playlist.push_back(std::move(entry));
  });
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "File12" with prefix "file" gives 12; -1 when the key is not the prefix and a number.
int64_t KeyNumber(const std::string& key, const char* prefix) {
  const size_t length = std::char_traits<char>::length(prefix);
  if (key.size() <= length || key.size() > length + 9) return -1;
  for (size_t i = 0; i < length; ++i)
    if (Lower(key[i]) != prefix[i]) return -1;
  int64_t number = 0;
  for (size_t i = length; i < key.size(); ++i) {
    if (!IsDigit(key[i])) return -1;
    number = number * 10 + (key[i] - '0');
  }
  return number;
}

// A .pls file: "FileN=" and "TitleN=" keys (any case, any order), entries in the order of N.
void ReadPls(TStream& stream, const std::string& folder, std::vector<std::string>& playlist, TEntryTitles* titles) {
  std::map<int64_t, std::pair<std::string, std::string>> items;  // N: file, title
  const auto flush = [&] {
    for (auto& [number, item] : items) {
      std::string entry = EntryOf(std::move(item.first), folder);
      if (entry.empty()) continue;
      if (titles != nullptr && !item.second.empty()) (*titles)[entry] = item.second;
      playlist.push_back(std::move(entry));
    }
  };
  try {
    ForEachLine(stream, [&](std::string& line) {
      const size_t equals = line.find('=');
      if (equals == std::string::npos) return;
      const std::string key = Trimmed(line.substr(0, equals));
      std::string value = Trimmed(line.substr(equals + 1));
      if (const int64_t n = KeyNumber(key, "file"); n >= 0) items[n].first = std::move(value);
      else if (const int64_t t = KeyNumber(key, "title"); t >= 0) items[t].second = std::move(value);
    });
  } catch (...) {
    // What was read before the failure stays.
    flush();
    throw;
  }
  flush();
}

}  // namespace

std::string LocalFileOfUri(const std::string& uri) {
  if (!IsFileUri(uri)) return {};
  const std::string path = FileUriPath(uri);
  return path == uri ? std::string() : path;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool NaturalPathLess(const std::string& a, const std::string& b) {
  const int c = NaturalCompare(a, b);
  return c != 0 ? c < 0 : a < b;
}

std::vector<std::string> FolderAudioFiles(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    const std::string path = it->path().string();
    std::error_code type_error;
    if (it->is_regular_file(type_error) && IsAudioFile(path)) files.push_back(path);
  }
  std::sort(files.begin(), files.end(), NaturalPathLess);
  return files;
}

void ReadPlaylist(TStream& stream, const std::string& path, std::vector<std::string>& playlist, TEntryTitles* titles) {
  const std::string folder = ExtractFileDir(path);
  if (LowerExtension(path) == ".pls") ReadPls(stream, folder, playlist, titles);
  else ReadM3u(stream, folder, playlist, titles);
}

void ReadPlaylist(const std::string& path, std::vector<std::string>& playlist, TEntryTitles* titles) {
  TFileStream stream(path);
  ReadPlaylist(stream, path, playlist, titles);
}

void ReadAddressPlaylist(const std::string& text, const std::string& address, std::vector<std::string>& playlist,
                         TEntryTitles* titles) {
  std::string_view start(text);
  while (!start.empty() && static_cast<unsigned char>(start.front()) <= ' ') start.remove_prefix(1);
  if (start.substr(0, 3) == "\xEF\xBB\xBF") start.remove_prefix(3);
  const bool pls = StartsWithNoCase(start, "[playlist]");
  // Relative entries are relative to the address's folder, as a browser would take them.
  const std::string path = address.substr(0, address.find_first_of("?#"));
  TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
  ReadPlaylist(stream, ExtractFileDir(path) + (pls ? "/list.pls" : "/list.m3u"), playlist, titles);
}

std::string TimeText(int32_t position_ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2d:%.2d", position_ms / 60000, (position_ms / 1000) % 60);
  return text;
}

}  // namespace plumo
