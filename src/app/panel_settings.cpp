#include "panel_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "ini_file.h"

namespace plumo {

namespace {

using namespace settings_keys;

// A hand-edited FileCount beyond the keys present cannot make the playlist grow without bound;
// a playlist the program wrote (one key per entry) is read back whole, however long.
constexpr size_t kMaxMissingFiles = 65536;

std::string Numbered(const char* key, size_t i) { return key + std::to_string(i); }

// "size:mtime" of a regular file, "" for anything else: a file that changed since its place was
// stored starts at its beginning.
std::string Identity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace

void TPanelSettings::Load(const std::string& file) {
  platform::IniFile::RemoveTemporaries(file);
  platform::IniFile::RemoveTemporaries(NowFileName(file));
  const platform::IniFile ini(file);
  Left = ini.ReadInteger(kSetup, kLeft, Left);
  Top = ini.ReadInteger(kSetup, kTop, Top);
  const auto count = static_cast<size_t>(std::max<int64_t>(
      0, std::min<int64_t>(ini.ReadInteger(kOption, kFileCount, 0),
                           static_cast<int64_t>(std::max(ini.KeyCount(kOption), kMaxMissingFiles)))));
  PlayList.clear();
  Titles.clear();
  for (size_t i = 0; i < count; ++i) {
    PlayList.push_back(ini.ReadString(kOption, Numbered(kFile, i), ""));
    std::string title = ini.ReadString(kOption, Numbered(kTitle, i), "");
    if (!title.empty()) Titles[PlayList.back()] = std::move(title);
  }
  CurrentDir = ini.ReadString(kOption, kCurrentDir, CurrentDir);
  NowIndex = ini.ReadInteger(kOption, kNowIndex, 0);
  ReplayGain = ini.ReadInteger(kOption, kReplayGain, 0);
  ReplayGainPreamp = ini.ReadInteger(kOption, kReplayGainPreamp, 0);
  Visible = ini.ReadBool(kSetup, kVisible, false);
  TopFlag = ini.ReadBool(kSetup, kTopFlag, false);
  VolLevel = ini.ReadInteger(kSetup, kVolLevel, 100);
  Shuffle = ini.ReadBool(kSetup, kShuffle, false);
  Repeat = ini.ReadInteger(kSetup, kRepeat, 1);
  Equalizer = ini.ReadInteger(kSetup, kEqualizer, 0);
  ResumeAtStart = ini.ReadBool(kSetup, kResumeAtStart, false);
  Notify = ini.ReadBool(kSetup, kNotify, false);
  // The entry played last, when the small file names an entry of this playlist.
  const platform::IniFile now(NowFileName(file));
  const int32_t index = now.ReadInteger(kNow, kNowIndex, -1);
  Position = 0;
  if (index >= 0 && static_cast<size_t>(index) < PlayList.size() &&
      now.ReadString(kNow, kEntry, "") == PlayList[static_cast<size_t>(index)]) {
    NowIndex = index;
    const std::string& entry = PlayList[static_cast<size_t>(index)];
    const std::string identity = now.ReadString(kNow, kTime, "");
    if (!identity.empty() && identity == Identity(HasDrivePart(entry) ? entry : JoinFolder(CurrentDir, entry)))
      Position = std::max<int64_t>(0, std::strtoll(now.ReadString(kNow, kPosition, "0").c_str(), nullptr, 10));
  }
  // A hand-edited index outside the playlist starts at the first entry.
  if (NowIndex < 0 || static_cast<size_t>(NowIndex) >= PlayList.size()) NowIndex = 0;
}

void TPanelSettings::Save(const std::string& file) const {
  platform::IniFile ini(file);
  ini.WriteInteger(kSetup, kLeft, Left);
  ini.WriteInteger(kSetup, kTop, Top);
  ini.EraseSection(kOption);
  ini.WriteInteger(kOption, kFileCount, static_cast<int32_t>(PlayList.size()));
  for (size_t i = 0; i < PlayList.size(); ++i) {
    ini.WriteString(kOption, Numbered(kFile, i), PlayList[i]);
    // The title a playlist gave the entry (a station's name in its .pls).
    if (const auto title = Titles.find(PlayList[i]); title != Titles.end())
      ini.WriteString(kOption, Numbered(kTitle, i), title->second);
  }
  ini.WriteString(kOption, kCurrentDir, CurrentDir);
  ini.WriteInteger(kOption, kNowIndex, NowIndex);
  ini.WriteInteger(kOption, kReplayGain, ReplayGain);
  ini.WriteInteger(kOption, kReplayGainPreamp, ReplayGainPreamp);
  ini.UpdateFile();
}

void TPanelSettings::SaveSetup(const std::string& file, const char* key, int32_t value) {
  platform::IniFile ini(file);
  ini.WriteInteger(kSetup, key, value);
  ini.UpdateFile();
}

void TPanelSettings::SaveReplayGain(const std::string& file, int32_t mode) {
  platform::IniFile ini(file);
  ini.WriteInteger(kOption, kReplayGain, mode);
  ini.UpdateFile();
}

void TPanelSettings::SaveNowIndex(const std::string& file, int32_t index, const std::string& entry, int64_t position) {
  platform::IniFile now(NowFileName(file));
  now.WriteInteger(kNow, kNowIndex, index);
  now.WriteString(kNow, kEntry, entry);
  now.WriteString(kNow, kPosition, std::to_string(position));
  now.WriteString(kNow, kTime, Identity(entry));
  now.UpdateFile();
}

void TPanelSettings::EraseSection(const std::string& file, const char* section) {
  platform::IniFile ini(file);
  ini.EraseSection(section);
  ini.UpdateFile();
}

}  // namespace plumo
