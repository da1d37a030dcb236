// Conversions between UTF-8 and UTF-16. The strict ones refuse malformed
// input, never replace it, so that a text stored and read back is the same
// text; the lossy one is for display texts that must get through somehow.
#pragma once

#include <string>
#include <string_view>

namespace veldra {

bool isValidUtf8(std::string_view text);
// False on an unpaired surrogate.
bool utf16ToUtf8(std::u16string_view in, std::string& out);
// False on malformed, overlong or surrogate-encoding UTF-8.
bool utf8ToUtf16(std::string_view in, std::u16string& out);
// Each malformed sequence becomes U+FFFD: a well-formed sequence carrying a
// forbidden value (overlong, surrogate, beyond U+10FFFF) as a whole, any
// other bad byte on its own.
std::u16string utf8ToUtf16Lossy(std::string_view in);

}  // namespace veldra
