// Hands an address to the desktop's default handler.
#pragma once

#include <filesystem>
#include <string>

namespace veldra::platform {

// Opens `url` with xdg-open without waiting for it and without a shell, so the
// address is never interpreted. Returns false when the helper could not start.
// $VELDRA_OPEN_LOG, when set, names a file that receives the address instead
// (tests and headless machines).
bool openExternal(const std::string& url);

// Opens `url` through a small page that sends the browser on to it, written into a new private
// folder (0700, the page 0600): an address carrying an access token never appears on a command
// line, which every local user can read. Gives the page's path, to be removed (with its folder)
// when the address is no longer valid, or an empty path when it could not be written or opened.
std::filesystem::path openViaPrivatePage(const std::string& url);

}  // namespace veldra::platform
