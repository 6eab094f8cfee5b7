// What a person reads when an entry of the playlist cannot be played: the entry (a file's path,
// an address without its user name and password) and what was wrong in plain words, in the
// user's language; the network library's own words, or a text that has no plain words here,
// follow as the detail.
#pragma once

#include <exception>
#include <string>

namespace plumo {

std::string EntryMessage(const std::string& entry, const std::exception_ptr& e);

}  // namespace plumo
