// What screen readers see of the panel (AT-SPI, through Qt): the two buttons as push buttons
// with their names and a press action, the display as a text whose name is what it shows (the
// state word and the title) and whose description is the play time.
#pragma once

#include <QString>
#include <string>

namespace plumo {

class TImage;
class TSpeedButton;

// Makes the panel's widgets known to Qt's accessibility (once per process: Qt keeps the list).
void InstallPanelAccessibility();

// The display's accessible name for the title it shows ("[PLAY]Song / Singer" reads
// "PLAY, Song / Singer").
QString SpokenTitle(const std::string& title);

// The window's title: "Title – Artist – PLUMO" while a track plays or pauses, else "PLUMO".
QString WindowTitle(bool playing, const std::string& song, const std::string& artist);

}  // namespace plumo
