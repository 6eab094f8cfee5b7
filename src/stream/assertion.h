// Internal invariants of the player's unit. A broken invariant raises EAssertionFailed (it never
// aborts), and the message names the unit "MP3Plyr".
#pragma once

#include <stdexcept>
#include <string>

namespace plumo {

class EAssertionFailed : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// Throws EAssertionFailed("Assertion failed: <what> (MP3Plyr)") when the condition does not hold.
inline void Assert(bool condition, const char* what) {
  if (!condition) throw EAssertionFailed(std::string("Assertion failed: ") + what + " (MP3Plyr)");
}

}  // namespace plumo
