// What names handed to the panel stand for, and gathering them into playlist entries. Every way
// a name comes in (a drop, the program's arguments and the hand-over of a later start, the media
// controls' OpenUri, the history) asks ClassifyName; playlist lines are read by the playlist rules,
// which ask the stream layer alone whether a name is a stream address.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "playlist.h"

class QMimeData;

namespace plumo {

class TStream;

enum TNameKind : uint8_t {
  nkMissing,        // no file or folder of that name
  nkStreamAddress,  // http:// or https:// (the scheme in any case)
  nkOtherAddress,   // another scheme, or a file:// URI of another host: names nothing here
  nkAudioFile,      // .mp3, .mp2, .mpa: a regular file
  nkPlaylist,       // .m3u, .m3u8, .pls: a regular file
  nkCueSheet,       // .cue: a regular file, whose tracks become entries
  nkFolder,
  nkNotRegular,     // a FIFO, a device or a socket named like audio or a playlist: never opened
  nkOtherFile,      // any other file
};

struct TNameClass {
  TNameKind Kind = nkMissing;
  // The local path (a file:// URI decoded to its bytes), or the address as it was given.
  std::string Path;
  // The name was a file:// URI.
  bool FileUri = false;
  // A file:// URI that names a local path (Path), whether or not anything is there.
  bool LocalUri() const { return FileUri && Kind != nkOtherAddress; }
};

TNameClass ClassifyName(const std::string& name);

// The name the player is given for a playlist entry, or "" when it cannot be played now: a stream
// address as it stands, else the regular file where it is found (a relative entry in current_dir);
// a sheet's track ("album.cue#2") as the track of the sheet where it is found.
std::string PlayableName(const std::string& entry, const std::string& current_dir);

// What an intake gathered: the new playlist, the names that gave it entries (for the history),
// the current folder after them, whether any entry can be played, and the failure that ended
// the gathering early.
struct TIntake {
  std::vector<std::string> Entries;
  std::vector<std::string> Contributed;
  std::string CurrentDir;
  TEntryTitles Titles;
  bool Playable = false;
  std::exception_ptr Error;
};

using TOpenPlaylist = std::function<std::unique_ptr<TStream>(const std::string& path)>;

// Gathers the entries the names stand for, in order: audio files, stream addresses, the lines of
// playlists, the tracks of .cue sheets (also a sheet named by a playlist's line), the audio files
// of folders (walked whole; a sheet among them stands for the file it cuts into tracks). Touches nothing but the file system, so it
// runs off the GUI thread.
TIntake Gather(const std::vector<std::string>& names, std::string current_dir, const TOpenPlaylist& open);

// What a drag carries for the panel: its local files; where it carries none, the http and https
// addresses of its URI list (a browser's link), else its plain text when every line of it is
// such an address. A drag with none of these (other text, other links) offers nothing. The
// names are taken from the URI list's own bytes: a file name that is not valid UTF-8 would not
// survive the round trip through QUrl and QString.
std::vector<std::string> DroppedNames(const QMimeData* data);

// "a, b, c に再生できるファイルがありません" in the user's language, with at most three names.
std::string NothingPlayableText(const std::vector<std::string>& names);

}  // namespace plumo
