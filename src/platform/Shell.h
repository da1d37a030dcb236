// Hands an address to the desktop's default handler.
#pragma once

#include <string>

namespace veldra::platform {

// Opens `url` with xdg-open without waiting for it and without a shell, so the
// address is never interpreted. Returns false when the helper could not start.
// $VELDRA_OPEN_LOG, when set, names a file that receives the address instead
// (tests and headless machines).
bool openExternal(const std::string& url);

}  // namespace veldra::platform
