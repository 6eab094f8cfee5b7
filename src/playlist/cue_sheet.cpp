#include "cue_sheet.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>

#include "file_stream.h"
#include "playlist.h"
#include "text_conversion.h"

namespace plumo {

namespace {

constexpr int32_t kMaxSheetBytes = 1 << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The first word of s, and s after it.
std::string_view NextWord(std::string_view& s) {
  s = TrimBlanks(s);
  size_t n = 0;
  while (n < s.size() && !IsBlank(s[n])) ++n;
  const std::string_view word = s.substr(0, n);
  s = TrimBlanks(s.substr(n));
  return word;
}

bool SameWord(std::string_view a, std::string_view lower) { return a.size() == lower.size() && StartsWithNoCase(a, lower); }

// A text value: a quoted string (up to its closing quote, or the line's end), else the rest of
// the line.
std::string TextValue(std::string_view rest) {
  rest = TrimBlanks(rest);
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    const size_t close = rest.find('"');
    return std::string(rest.substr(0, close));
  }
  return std::string(rest);
}

// FILE's name: quoted, or the words before the type.
std::string FileValue(std::string_view rest) {
  rest = TrimBlanks(rest);
  if (!rest.empty() && rest.front() == '"') return TextValue(rest);
  const size_t last = rest.find_last_of(" \t");
  return std::string(last == std::string_view::npos ? rest : TrimBlanks(rest.substr(0, last)));
}

bool Number(std::string_view s, int64_t& value) {
  if (s.empty() || s.size() > 9) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), value);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && value >= 0;
}

// mm:ss:ff in CD frames; -1 when malformed.
int64_t Frames(std::string_view s) {
  const size_t a = s.find(':');
  const size_t b = a == std::string_view::npos ? a : s.find(':', a + 1);
  if (b == std::string_view::npos) return -1;
  int64_t m = 0, sec = 0, f = 0;
  if (!Number(s.substr(0, a), m) || !Number(s.substr(a + 1, b - a - 1), sec) || !Number(s.substr(b + 1), f)) return -1;
  if (sec >= 60 || f >= kCueFramesPerSecond) return -1;
  return (m * 60 + sec) * kCueFramesPerSecond + f;
}

// The audio file a FILE line names, found as it stands, relative to the sheet's folder, or (a
// sheet written on Windows) by its name part in the sheet's folder.
std::string InFolder(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : JoinFolder(folder, name);
}

std::string FindFile(std::string name, const std::string& folder) {
  if (name.empty()) return {};
  // "C:\..." or "\\server\...": a place on the machine the sheet was written on.
  const bool windows_path = name.size() >= 2 && (name[1] == ':' || (name[0] == '\\' && name[1] == '\\'));
  std::replace(name.begin(), name.end(), '\\', '/');
  const std::string joined = name[0] == '/' ? name : InFolder(folder, name);
  if (!windows_path || RegularFileExists(joined)) return joined;
  return InFolder(folder, ExtractFileName(name));
}

struct TRawTrack {
  TCueTrack track;
  std::string raw_file;
  bool has_start = false;
};

}  // namespace

int64_t CueFramesToSamples(int64_t frames, int sample_rate) {
  if (frames <= 0 || sample_rate <= 0) return 0;
  return (frames * sample_rate * 2 + kCueFramesPerSecond) / (2 * kCueFramesPerSecond);
}

TCueSheet ParseCueSheet(std::string_view text, const std::string& folder) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  TCueSheet sheet;
  TReplayGain album_gain;
  std::vector<TRawTrack> tracks;
  std::string file;  // the current FILE, as written
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::string_view key = NextWord(line);
    TRawTrack* track = tracks.empty() ? nullptr : &tracks.back();
    if (SameWord(key, "file")) {
      file = FileValue(line);
    } else if (SameWord(key, "track")) {
      int64_t number = 0;
      if (!Number(NextWord(line), number)) continue;
      TRawTrack t;
      t.track.Number = static_cast<int32_t>(number);
      tracks.push_back(std::move(t));
    } else if (SameWord(key, "index") && track) {
      int64_t which = 0;
      if (!Number(NextWord(line), which)) continue;
      const int64_t at = Frames(NextWord(line));
      if (at < 0) continue;
      if (which == 0) {
        track->track.Index00 = at;
      } else if (which == 1 && !track->has_start && !file.empty()) {
        // The track belongs to the file its INDEX 01 is in (its INDEX 00 may lie in the one
        // before).
        track->track.Start = at;
        track->raw_file = file;
        track->has_start = true;
      }
    } else if (SameWord(key, "pregap") && track) {
      track->track.Pregap = std::max<int64_t>(0, Frames(NextWord(line)));
    } else if (SameWord(key, "postgap") && track) {
      track->track.Postgap = std::max<int64_t>(0, Frames(NextWord(line)));
    } else if (SameWord(key, "title")) {
      (track ? track->track.Title : sheet.Title) = TextValue(line);
    } else if (SameWord(key, "performer")) {
      (track ? track->track.Performer : sheet.Performer) = TextValue(line);
    } else if (SameWord(key, "rem")) {
      const std::string_view name = NextWord(line);
      const std::string value = TextValue(line);
      if (StartsWithNoCase(name, "replaygain_")) {
        TakeReplayGainItem(track ? track->track.Gain : album_gain, name, value);
      } else if (!track && SameWord(name, "date")) {
        sheet.Date = value;
      } else if (!track && SameWord(name, "genre")) {
        sheet.Genre = value;
      }
    }
  }

  // The sheet's 8-bit text is one tag: its charset is decided over all its texts together.
  std::vector<std::string_view> fields{sheet.Title, sheet.Performer, sheet.Date, sheet.Genre};
  for (const TRawTrack& t : tracks) {
    fields.push_back(t.track.Title);
    fields.push_back(t.track.Performer);
    fields.push_back(t.raw_file);
  }
  const TEightBitCharset charset = EightBitCharset(fields);
  const auto convert = [charset](std::string& s) { s = EightBitToUtf8(s, charset); };
  convert(sheet.Title);
  convert(sheet.Performer);
  convert(sheet.Date);
  convert(sheet.Genre);
  for (TRawTrack& raw : tracks) {
    if (!raw.has_start) continue;
    TCueTrack& t = raw.track;
    convert(t.Title);
    convert(t.Performer);
    if (t.Performer.empty()) t.Performer = sheet.Performer;
    t.File = FindFile(raw.raw_file, folder);
    // A file name in 8-bit text: the bytes as they stand when a file has them, else the name
    // read in the sheet's charset.
    if (!RegularFileExists(t.File)) {
      std::string converted = raw.raw_file;
      convert(converted);
      if (converted != raw.raw_file) {
        const std::string found = FindFile(converted, folder);
        if (RegularFileExists(found)) t.File = found;
      }
    }
    if (!album_gain.AlbumGain) album_gain.AlbumGain = t.Gain.AlbumGain;
    if (!album_gain.AlbumPeak) album_gain.AlbumPeak = t.Gain.AlbumPeak;
    // A track whose INDEX 01 is not after the track before it in the same file is passed over.
    if (!sheet.Tracks.empty() && sheet.Tracks.back().File == t.File && sheet.Tracks.back().Start >= t.Start) continue;
    sheet.Tracks.push_back(std::move(t));
  }
  for (size_t i = 0; i < sheet.Tracks.size(); ++i) {
    TCueTrack& t = sheet.Tracks[i];
    if (!t.Gain.AlbumGain) t.Gain.AlbumGain = album_gain.AlbumGain;
    if (!t.Gain.AlbumPeak) t.Gain.AlbumPeak = album_gain.AlbumPeak;
    if (i + 1 < sheet.Tracks.size() && sheet.Tracks[i + 1].File == t.File) t.End = sheet.Tracks[i + 1].Start;
  }
  return sheet;
}

TCueSheet ReadCueSheet(const std::string& path) {
  TFileStream stream(path);
  std::string text(static_cast<size_t>(kMaxSheetBytes), '\0');
  int32_t got = 0;
  while (got < kMaxSheetBytes) {
    const int32_t n = stream.Read(text.data() + got, kMaxSheetBytes - got);
    if (n <= 0) break;
    got += n;
  }
  text.resize(static_cast<size_t>(got));
  return ParseCueSheet(text, ExtractFileDir(path));
}

bool IsCueSheet(const std::string& path) { return LowerExtension(path) == ".cue"; }

bool SplitCueEntry(const std::string& entry, std::string& sheet, int32_t& track) {
  const size_t hash = entry.rfind('#');
  if (hash == std::string::npos || !IsCueSheet(entry.substr(0, hash))) return false;
  int64_t n = 0;
  if (!Number(std::string_view(entry).substr(hash + 1), n) || n < 1) return false;
  sheet = entry.substr(0, hash);
  track = static_cast<int32_t>(n);
  return true;
}

std::string CueEntry(const std::string& sheet, int32_t track) { return sheet + "#" + std::to_string(track); }

void AppendCueEntries(const std::string& sheet, std::vector<std::string>& playlist, TEntryTitles* titles,
                      std::vector<std::string>* files) {
  const TCueSheet cue = ReadCueSheet(sheet);
  for (size_t i = 0; i < cue.Tracks.size(); ++i) {
    const TCueTrack& t = cue.Tracks[i];
    if (!RegularFileExists(t.File)) continue;
    const std::string entry = CueEntry(sheet, static_cast<int32_t>(i + 1));
    playlist.push_back(entry);
    if (titles && !t.Title.empty()) (*titles)[entry] = t.Title;
    if (files) files->push_back(t.File);
  }
}

std::vector<std::string> FolderEntries(const std::string& folder, TEntryTitles* titles) {
  namespace fs = std::filesystem;
  std::vector<std::string> sheets;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    std::error_code type_error;
    if (it->is_regular_file(type_error) && IsCueSheet(it->path().string())) sheets.push_back(it->path().string());
  }
  const std::vector<std::string> audio = FolderAudioFiles(folder);
  if (sheets.empty()) return audio;
  std::sort(sheets.begin(), sheets.end(), NaturalPathLess);
  // Which sheet takes each file, and the entries of each sheet.
  std::map<std::string, size_t> taken;
  std::vector<std::vector<std::string>> tracks(sheets.size());
  for (size_t i = 0; i < sheets.size(); ++i) {
    std::vector<std::string> files;
    try {
      AppendCueEntries(sheets[i], tracks[i], titles, &files);
    } catch (const std::exception&) {
      continue;
    }
    for (const std::string& file : files) {
      std::error_code e;
      const fs::path canonical = fs::weakly_canonical(file, e);
      taken.emplace(e ? file : canonical.string(), i);
    }
  }
  std::vector<std::string> entries;
  std::set<size_t> placed;
  for (const std::string& file : audio) {
    std::error_code e;
    const fs::path canonical = fs::weakly_canonical(file, e);
    const auto sheet = taken.find(e ? file : canonical.string());
    if (sheet == taken.end()) {
      entries.push_back(file);
    } else if (placed.insert(sheet->second).second) {
      entries.insert(entries.end(), tracks[sheet->second].begin(), tracks[sheet->second].end());
    }
  }
  return entries;
}

}  // namespace plumo
