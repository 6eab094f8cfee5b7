// CUE sheets: an album, a mix or a book held as one audio file (or a few), and the sheet that
// cuts it into tracks. The reader gives each track's file, its place in CD frames (75 a second)
// and its texts; the player turns the frames into samples at the file's own rate.
//
// A playlist entry for one track is the sheet's path, "#" and the track's place in the sheet
// (1 for the first track read, whatever its TRACK number says): "/music/album.cue#3".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "playlist.h"
#include "replay_gain.h"

namespace plumo {

struct TCueTrack {
  int32_t Number = 0;  // TRACK nn as written
  // The audio file, a full path when the sheet's path was one (relative names are found in the
  // sheet's folder).
  std::string File;
  // INDEX 01 in CD frames from the start of File; INDEX 00 (-1 when absent) belongs to the
  // previous track, so it is only told.
  int64_t Start = 0;
  int64_t Index00 = -1;
  // Silence the sheet asks for before (PREGAP) and after (POSTGAP) the track, in CD frames.
  int64_t Pregap = 0;
  int64_t Postgap = 0;
  // Where the track ends in File, in CD frames: the next track's INDEX 01 in the same file, or
  // -1 for the file's end.
  int64_t End = -1;
  std::string Title;
  std::string Performer;
  TReplayGain Gain;  // REM REPLAYGAIN_TRACK_* with the sheet's album values
};

struct TCueSheet {
  std::string Title;
  std::string Performer;
  std::string Date;
  std::string Genre;
  std::vector<TCueTrack> Tracks;
};

// CD frames per second.
inline constexpr int64_t kCueFramesPerSecond = 75;

// The sample (per channel) a CD frame count stands for at a sample rate: exact at 44.1 kHz (588
// a frame), the nearest sample at other rates.
int64_t CueFramesToSamples(int64_t frames, int sample_rate);

// Reads a sheet's text. folder: where relative FILE names are found. Lines are CR, LF or CR LF
// ended; a UTF-8 byte-order mark is dropped; 8-bit text (titles, performers, file names that are
// not valid UTF-8) is read by the tags' rule over the whole sheet. Lines that make no sense are
// passed over, and so are tracks without INDEX 01 or before any FILE.
TCueSheet ParseCueSheet(std::string_view text, const std::string& folder);
// Reads a sheet file (at most 1 MiB of it); raises an exception naming it when it cannot be read.
TCueSheet ReadCueSheet(const std::string& path);

// Whether a name ends in ".cue" (any case).
bool IsCueSheet(const std::string& path);
// Splits "sheet.cue#N" into the sheet and N (>= 1); false for other names.
bool SplitCueEntry(const std::string& entry, std::string& sheet, int32_t& track);
// "sheet#N".
std::string CueEntry(const std::string& sheet, int32_t track);

// Appends the entries of a sheet's tracks whose file is there, with their titles; files (when
// given) receives the audio files they play. Raises an exception naming the sheet when it cannot
// be read.
void AppendCueEntries(const std::string& sheet, std::vector<std::string>& playlist, TEntryTitles* titles = nullptr,
                      std::vector<std::string>* files = nullptr);

// The audio files of a folder as FolderAudioFiles gives them, with each file a sheet in the
// folder plays replaced by the sheet's tracks (at the first of the files it plays; a file is
// taken by the first sheet in path order that names it). A sheet that cannot be read is passed
// over.
std::vector<std::string> FolderEntries(const std::string& folder, TEntryTitles* titles = nullptr);

}  // namespace plumo
