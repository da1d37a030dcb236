// Strict conversions between UTF-8 and UTF-16: malformed input is refused,
// never replaced, so that a text stored and read back is the same text.
#pragma once

#include <string>
#include <string_view>

namespace veldra {

bool isValidUtf8(std::string_view text);
// False on an unpaired surrogate.
bool utf16ToUtf8(std::u16string_view in, std::string& out);
// False on malformed, overlong or surrogate-encoding UTF-8.
bool utf8ToUtf16(std::string_view in, std::u16string& out);

}  // namespace veldra
