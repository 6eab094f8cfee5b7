// Keeps the panel out of the taskbar and the pager: the tool-window type alone does not do it
// under every X window manager, so the window also asks for it in its _NET_WM_STATE. Does
// nothing where the display is not X11.
#pragma once

class QWidget;

namespace plumo {

// Call while the window is unmapped (before showing it); creates its native window.
void SkipTaskbar(QWidget& window);

}  // namespace plumo
