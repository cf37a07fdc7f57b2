#pragma once

#include <string>
#include <string_view>

namespace norva {

// Text from a file or a device, fit to be shown on a terminal or in a message: control
// characters (an escape sequence would change the terminal) and DEL read as \xNN, a backslash
// as \\, and a zero byte does not cut the rest off. Other bytes, UTF-8 included, pass as they are.
std::string Printable(std::string_view text);

}  // namespace norva
