#pragma once

#include <string>
#include <string_view>

namespace lodestrum::files {

// Makes a name that came from a calculator usable as a bare file name in the current folder.
//  - '/', NUL and the control bytes 0x01-0x1F and 0x7F become '_';
//  - a name of "." or ".." gets a leading '_';
//  - an empty name becomes "_".
// The backslash is kept: it is an ordinary character in a Linux file name, and a TI-89 name
// that still holds one after its folder was split off is stored as the calculator spelled it.
// Bytes 0x80 and above (the calculators' own character sets) are kept unchanged.
// The result never contains '/', so a file made from it cannot leave the current folder.
// SafeFileName(SafeFileName(x)) == SafeFileName(x).
std::string SafeFileName(std::string_view name);

// True when fileName matches one of the masks, compared without regard to (ASCII) case.
// masks holds one or more masks separated by ';' (blanks around a mask are ignored), each
// with the wildcards '*' (any run of characters, also none) and '?' (exactly one character).
// As in the file dialogs the masks come from, "*.*" matches every name, with or without a
// dot, and a mask list with no mask in it matches every name.
bool MatchesMask(std::string_view fileName, std::string_view masks);

} // namespace lodestrum::files
