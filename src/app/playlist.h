// The panel's playlist rules: paths and their parts, which entries are taken as they stand,
// joining relative entries to a folder, reading .m3u playlists, and the time text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plumo {

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

// Reads a .m3u file line by line (a line ends at its first CR or LF) and appends one entry per
// line to playlist, in file order, empty and comment lines included: absolute lines, URLs and
// shares as they stand, other lines joined to current_dir. Raises std::runtime_error naming the
// file and the reason when it cannot be read; the entries of lines read before stay appended.
void ReadM3u(const std::string& path, const std::string& current_dir, std::vector<std::string>& playlist);

// "MM:SS" from milliseconds; minutes are not wrapped at 60.
std::string TimeText(int32_t position_ms);

}  // namespace plumo
