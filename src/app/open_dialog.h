// What the open items ask the user for, with the desktop's own dialogs: audio files and
// playlists (several at once), a folder, or a stream address on a line of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QWidget;

namespace plumo {

enum TAsk : uint8_t { akFiles, akFolder, akAddress };

// The names chosen, empty when cancelled. add: the files are to be added (the dialog's title
// says so); folder: where the dialogs start.
std::vector<std::string> AskWithDialog(QWidget* parent, TAsk ask, bool add, const std::string& folder);

}  // namespace plumo
