#include "intake.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QMimeData>
#include <QString>
#include <QUrl>
#include <algorithm>

#include "cue_sheet.h"
#include "named_stream.h"
#include "stream.h"

namespace plumo {

namespace {

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

bool StartsWithFileScheme(const std::string& name) {
  return name.size() >= 5 && QByteArray::fromStdString(name.substr(0, 5)).toLower() == "file:";
}

}  // namespace

TNameClass ClassifyName(const std::string& name) {
  TNameClass c;
  c.Path = name;
  if (IsStreamAddress(name)) {
    c.Kind = nkStreamAddress;
    return c;
  }
  if (StartsWithFileScheme(name)) {
    c.FileUri = true;
    c.Path = LocalFileOfUri(name);
    if (c.Path.empty()) {
      // "file:/p" and the other forms QUrl knows; a file:// URI of another host names nothing here.
      const QUrl url(Utf8(name));
      if (!url.isLocalFile() || name.compare(5, 2, "//") == 0) {
        c.Kind = nkOtherAddress;
        c.Path = name;
        return c;
      }
      c.Path = url.toLocalFile().toUtf8().toStdString();
    }
  } else if (name.find("://") != std::string::npos) {
    c.Kind = nkOtherAddress;
    return c;
  }
  struct stat st {};
  if (c.Path.empty() || ::stat(c.Path.c_str(), &st) != 0) {
    c.Kind = nkMissing;
  } else if (S_ISDIR(st.st_mode)) {
    c.Kind = nkFolder;
  } else if (!IsAudioFile(c.Path) && !IsPlaylistFile(c.Path) && !IsCueSheet(c.Path)) {
    c.Kind = nkOtherFile;
  } else if (!S_ISREG(st.st_mode)) {
    // Opening a FIFO waits for a writer, for ever if none comes.
    c.Kind = nkNotRegular;
  } else {
    c.Kind = IsAudioFile(c.Path) ? nkAudioFile : IsCueSheet(c.Path) ? nkCueSheet : nkPlaylist;
  }
  return c;
}

std::string PlayableName(const std::string& entry, const std::string& current_dir) {
  if (IsStreamAddress(entry)) return entry;
  std::string path = HasDrivePart(entry) ? entry : JoinFolder(current_dir, entry);
  std::string sheet;
  int32_t track = 0;
  if (SplitCueEntry(path, sheet, track)) return RegularFileExists(sheet) ? path : std::string();
  return RegularFileExists(path) ? path : std::string();
}

TIntake Gather(const std::vector<std::string>& names, std::string current_dir, const TOpenPlaylist& open) {
  TIntake in;
  in.CurrentDir = std::move(current_dir);
  try {
    for (const std::string& name : names) {
      const TNameClass c = ClassifyName(name);
      const std::string& path = c.Path;
      switch (c.Kind) {
        case nkStreamAddress:
          // An entry as it stands (its history entry too).
          in.Entries.push_back(path);
          break;
        case nkAudioFile:
          in.Entries.push_back(path);
          in.CurrentDir = ExtractFileDir(path);
          break;
        case nkPlaylist: {
          // Relative lines are resolved against the playlist's own folder. A playlist that
          // breaks off keeps the lines read before.
          const size_t before = in.Entries.size();
          const std::unique_ptr<TStream> stream = open(path);
          try {
            ReadPlaylist(*stream, path, in.Entries, &in.Titles);
          } catch (...) {
            if (in.Entries.size() > before) in.Contributed.push_back(path);
            throw;
          }
          // A line naming a sheet stands for its tracks (one that cannot be read, for nothing).
          for (size_t i = before; i < in.Entries.size();) {
            if (!IsCueSheet(in.Entries[i]) || !RegularFileExists(in.Entries[i])) {
              ++i;
              continue;
            }
            std::vector<std::string> tracks;
            try {
              AppendCueEntries(in.Entries[i], tracks, &in.Titles);
            } catch (const std::exception&) {
            }
            in.Entries.erase(in.Entries.begin() + static_cast<std::ptrdiff_t>(i));
            in.Entries.insert(in.Entries.begin() + static_cast<std::ptrdiff_t>(i), tracks.begin(), tracks.end());
            i += tracks.size();
          }
          in.CurrentDir = ExtractFileDir(path);
          break;
        }
        case nkCueSheet:
          AppendCueEntries(path, in.Entries, &in.Titles);
          in.CurrentDir = ExtractFileDir(path);
          break;
        case nkFolder: {
          // A folder contributes its audio files; a folder without any is passed over entirely.
          const std::vector<std::string> files = FolderEntries(path, &in.Titles);
          if (files.empty()) continue;
          in.Entries.insert(in.Entries.end(), files.begin(), files.end());
          in.CurrentDir = path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
          break;
        }
        case nkNotRegular:
          throw EFOpenError("Cannot open file \"" + path + "\". Not a regular file");
        case nkMissing:
        case nkOtherAddress:
        case nkOtherFile:
          continue;
      }
      in.Contributed.push_back(path);
    }
  } catch (...) {
    in.Error = std::current_exception();
  }
  // Playable: a stream address or a file that is there (relative entries are found from the
  // current folder, as the title does).
  in.Playable = std::any_of(in.Entries.begin(), in.Entries.end(),
                            [&in](const std::string& entry) { return !PlayableName(entry, in.CurrentDir).empty(); });
  return in;
}

std::vector<std::string> DroppedNames(const QMimeData* data) {
  std::vector<std::string> names;
  if (data == nullptr) return names;
  std::vector<std::string> addresses;
  if (data->hasUrls()) {
    const QByteArray list = data->data(QStringLiteral("text/uri-list"));
    for (const QByteArray& raw : list.split('\n')) {
      const QByteArray line = raw.trimmed();
      if (line.isEmpty() || line.startsWith('#')) continue;
      TNameClass name = ClassifyName(line.toStdString());
      if (name.Kind == nkStreamAddress) addresses.push_back(std::move(name.Path));
      else if (name.LocalUri()) names.push_back(std::move(name.Path));
    }
  }
  if (!names.empty()) return names;
  if (addresses.empty() && data->hasText()) {
    for (const QString& raw : data->text().split(QLatin1Char('\n'))) {
      const std::string line = raw.trimmed().toUtf8().toStdString();
      if (line.empty()) continue;
      if (ClassifyName(line).Kind != nkStreamAddress || line.find_first_of(" \t") != std::string::npos) return {};
      addresses.push_back(line);
    }
  }
  return addresses;
}

std::string NothingPlayableText(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size() && i < 3; ++i) text += (i > 0 ? ", " : "") + names[i];
  QString q = Utf8(text);
  if (names.size() > 3)
    q = QCoreApplication::translate("plumo::TPlatform", "%1 ほか %2 件").arg(q, QString::number(names.size() - 3));
  return QCoreApplication::translate("plumo::TPlatform", "%1 に再生できるファイルがありません").arg(q).toUtf8().toStdString();
}

}  // namespace plumo
