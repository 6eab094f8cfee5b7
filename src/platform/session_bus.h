// Whether the desktop session has a message bus to look for: an address in
// DBUS_SESSION_BUS_ADDRESS or the user's bus socket in $XDG_RUNTIME_DIR. Without either, asking
// a D-Bus library for the session bus would try to launch one.
#pragma once

namespace plumo::platform {

bool SessionBusExpected();

}  // namespace plumo::platform
