// The panel's playlist rules: paths and their parts, which entries are taken as they stand,
// joining relative entries to a folder, reading .m3u/.m3u8 and .pls playlists, the audio files of
// a dropped folder, and the time text.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace plumo {

class TStream;

// An absolute entry: it begins with "/", or has a Windows drive ("C:...") or begins with two
// backslashes (a Windows share), which keep their meaning from playlists written on Windows.
bool HasDrivePart(const std::string& entry);
// A stream address (the scheme in any case) or "\\server\share...".
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
// The process's current folder ("" when it cannot be told).
std::string CurrentDirectory();
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
// Playlist files: .m3u, .m3u8, .pls (any case).
bool IsPlaylistFile(const std::string& path);

// "%20" and the like decoded to their bytes; a "%" not followed by two hexadecimal digits stays.
std::string PercentDecode(const std::string& text);
// Path order as people read it: runs of digits compare by their value ("2" before "10"), letters
// without regard to case; ties fall back to plain byte order, so the order is total.
bool NaturalPathLess(const std::string& a, const std::string& b);
// The audio files in a folder and all its sub-folders, in natural path order. Folders that
// cannot be read are passed over; links to folders are not followed (no loops).
std::vector<std::string> FolderAudioFiles(const std::string& folder);

// Titles a playlist gives its entries (a .pls file's TitleN, an .m3u's #EXTINF before an
// address), by entry: shown until the entry's own stream or tags name it.
using TEntryTitles = std::map<std::string, std::string>;

// Reads a playlist and appends its entries. An .m3u or .m3u8 file (read as UTF-8, which the
// system's text is) gives one entry per line, in file order. A line ends at its first CR or LF. A
// byte-order mark at the start is dropped; empty lines and lines beginning with "#" (#EXTM3U,
// #EXTINF) are comments, an #EXTINF's title goes with the address on the next line. A .pls
// file (by its extension) gives one entry per FileN key, in the order of N whatever the order of
// the keys, with its TitleN; other keys and lines are passed over. An entry's text follows one
// rule: absolute paths, "http://" and "https://" addresses and shares are taken as they stand;
// "file://" URIs become their percent-decoded local path; other names are relative to the
// playlist's own folder, with backslashes read as folder separators. Raises an exception naming
// the file and the reason when it cannot be read; the entries read before stay appended.
void ReadPlaylist(const std::string& path, std::vector<std::string>& playlist, TEntryTitles* titles = nullptr);
// The same from an open stream; path names the playlist (its kind, its folder and the error
// messages).
void ReadPlaylist(TStream& stream, const std::string& path, std::vector<std::string>& playlist,
                  TEntryTitles* titles = nullptr);

// The playlist text a stream address answered with (see THttpStream::PlaylistText): a .pls when
// it begins with "[playlist]", else an .m3u; relative entries are taken relative to the address.
void ReadAddressPlaylist(const std::string& text, const std::string& address, std::vector<std::string>& playlist,
                         TEntryTitles* titles = nullptr);

// "MM:SS" from milliseconds; minutes are not wrapped at 60.
std::string TimeText(int32_t position_ms);

}  // namespace plumo
