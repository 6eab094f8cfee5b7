// The panel's playlist rules: paths and their parts, which entries are taken as they stand,
// joining relative entries to a folder, reading .m3u/.m3u8 playlists, the audio files of a
// dropped folder, and the time text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plumo {

class TStream;

// An absolute entry: it begins with "/", or has a Windows drive ("C:...") or begins with two
// backslashes (a Windows share), which keep their meaning from playlists written on Windows.
bool HasDrivePart(const std::string& entry);
// "http://..." or "\\server\share...".
bool IsUrlOrShare(const std::string& entry);
// folder + "/" + name, without doubling a trailing "/".
std::string JoinFolder(const std::string& folder, const std::string& name);
// The folder of a path without a trailing "/" ("/" for a file in the root, "" for a bare name).
std::string ExtractFileDir(const std::string& path);
// The name after the last "/".
std::string ExtractFileName(const std::string& path);
// The extension from the last dot of the name, dot included, ASCII lower-cased ("" if none).
std::string LowerExtension(const std::string& path);
// The name without folder and extension.
std::string NameWithoutExtension(const std::string& path);
// Whether a regular file (not a folder) of that name exists.
bool FileExists(const std::string& path);

// Whether a regular file (not a FIFO, a device or a folder) of that name exists.
bool RegularFileExists(const std::string& path);
// The local path a "file://" URI names ("file:///p", "file://localhost/p"), percent-decoded to
// its bytes as they stand; "" for other URIs.
std::string LocalFileOfUri(const std::string& uri);

// Whether a regular file or a folder of that name exists.
bool FolderExists(const std::string& path);
// Files the panel plays: .mp3, .mp2, .mpa (any case).
bool IsAudioFile(const std::string& path);
// Playlist files: .m3u, .m3u8 (any case).
bool IsPlaylistFile(const std::string& path);

// "%20" and the like decoded to their bytes; a "%" not followed by two hexadecimal digits stays.
std::string PercentDecode(const std::string& text);
// Path order as people read it: runs of digits compare by their value ("2" before "10"), letters
// without regard to case; ties fall back to plain byte order, so the order is total.
bool NaturalPathLess(const std::string& a, const std::string& b);
// The audio files in a folder and all its sub-folders, in natural path order. Folders that
// cannot be read are passed over; links to folders are not followed (no loops).
std::vector<std::string> FolderAudioFiles(const std::string& folder);

// Reads a playlist (.m3u or .m3u8; both are read as UTF-8, which the system's text is) and
// appends one entry per line, in file order. A line ends at its first CR or LF. A byte-order mark
// at the start is dropped; empty lines and lines beginning with "#" (#EXTM3U, #EXTINF) are
// comments. Absolute lines, "http://" lines and shares are taken as they stand; "file://" URIs
// become their percent-decoded local path; other lines are relative to the playlist's own
// folder, with backslashes read as folder separators. Raises an exception naming the file and
// the reason when it cannot be read; the entries of the lines read before stay appended.
void ReadPlaylist(const std::string& path, std::vector<std::string>& playlist);
// The same from an open stream; path names the playlist (its folder and the error messages).
void ReadPlaylist(TStream& stream, const std::string& path, std::vector<std::string>& playlist);

// "MM:SS" from milliseconds; minutes are not wrapped at 60.
std::string TimeText(int32_t position_ms);

}  // namespace plumo
