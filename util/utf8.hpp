#pragma once
// Printable UTF-8: the text a name, an entrant or a message may hold.
#include <cstddef>
#include <string_view>

namespace nimbus::util {

// The length (1 to 4) of the character at text[i] when it is valid UTF-8 (shortest form, no
// surrogate, at most U+10FFFF) and not a control character (C0, DEL, C1); 0 otherwise.
std::size_t printableCharAt(std::string_view text, std::size_t i);

// Whether the whole text is printable UTF-8 (an empty text is).
bool isPrintableUtf8(std::string_view text);

}  // namespace nimbus::util
