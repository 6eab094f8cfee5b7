// The panel's settings file: one struct with what it holds, the keys by name, and the only code
// of the panel that opens the file (the history component keeps its own section). The playlist
// and the options live in the settings file as they always have; the current entry, which
// changes with every track, is also written to a small file beside it (the settings file's name
// with ".now" appended), so that a track change costs a few hundred bytes whatever the
// playlist's length. The full save writes it into the settings file and removes the small one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "playlist.h"

namespace plumo {

namespace settings_keys {
inline constexpr const char* kSetup = "Setup";
inline constexpr const char* kLeft = "Left";
inline constexpr const char* kTop = "Top";
inline constexpr const char* kVisible = "Visible";
inline constexpr const char* kTopFlag = "TopFlag";
inline constexpr const char* kVolLevel = "VolLevel";
inline constexpr const char* kShuffle = "Shuffle";
inline constexpr const char* kRepeat = "Repeat";
inline constexpr const char* kEqualizer = "Equalizer";
inline constexpr const char* kResumeAtStart = "ResumeAtStart";
inline constexpr const char* kNotify = "Notify";
inline constexpr const char* kOption = "Option";
inline constexpr const char* kFileCount = "FileCount";
inline constexpr const char* kFile = "File";    // File0, File1, ...
inline constexpr const char* kTitle = "Title";  // Title0, ...: the title a playlist gave the entry
inline constexpr const char* kCurrentDir = "CurrentDir";
inline constexpr const char* kNowIndex = "NowIndex";
inline constexpr const char* kReplayGain = "ReplayGain";
// dB added to every ReplayGain gain, -6 .. 6.
inline constexpr const char* kReplayGainPreamp = "ReplayGainPreamp";
// In the small file of the current entry: its index and the entry itself, which must match the
// playlist read for the index to count.
inline constexpr const char* kNow = "Now";
inline constexpr const char* kEntry = "Entry";
// The sample the entry resumes at, and the size and modification time of its file then.
inline constexpr const char* kPosition = "Position";
inline constexpr const char* kSize = "Size";
inline constexpr const char* kTime = "Time";
}  // namespace settings_keys

struct TPanelSettings {
  // [Setup]
  int32_t Left = 0;
  int32_t Top = 0;
  bool Visible = false;
  bool TopFlag = false;
  int32_t VolLevel = 100;
  bool Shuffle = false;
  int32_t Repeat = 1;  // TRepeatMode: 0 off, 1 all, 2 one
  int32_t Equalizer = 0;  // the preset
  bool ResumeAtStart = false;
  bool Notify = false;
  // [Option]
  std::vector<std::string> PlayList;
  TEntryTitles Titles;
  std::string CurrentDir;
  int32_t NowIndex = 0;
  int32_t ReplayGain = 0;
  int32_t ReplayGainPreamp = 0;
  // From the small file: the sample NowIndex's entry resumes at (0 when its file changed).
  int64_t Position = 0;

  // Reads file over the defaults given (the design position, the current folder). A NowIndex
  // outside the playlist is 0. Removes what interrupted writes left beside the file first.
  void Load(const std::string& file);
  // Left, Top and the whole [Option] section (erased first); IniWriteError when refused.
  void Save(const std::string& file) const;

  // Single keys, each written at once; IniWriteError when refused.
  static void SaveSetup(const std::string& file, const char* key, int32_t value);
  static void SaveReplayGain(const std::string& file, int32_t mode);
  // The current entry and the sample it resumes at, into the small file beside the settings file.
  static void SaveNowIndex(const std::string& file, int32_t index, const std::string& entry, int64_t position);
  static void EraseSection(const std::string& file, const char* section);
  static std::string NowFileName(const std::string& file) { return file + ".now"; }
};

}  // namespace plumo
