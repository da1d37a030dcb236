// Entry into the host: names, the menu with its four commands and the handler.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace veldra::app {

inline constexpr int kAddOnStringTable = 32000;
inline constexpr int kMenuStringTable = 32500;
// Keeps every item enabled in all kinds of view.
inline constexpr const char* kMenuEnableSuffix = "^ES^EE^EI^ED^EW^E3^EL";
inline constexpr const char* kMakerUrl = "https://veldra.app/";
inline constexpr int kAddOnKind = 2;

// Text of a string-table entry; empty for an unknown table or index.
std::string resourceString(int table, int index);

struct EnvironmentInfo {
  std::string name;
  std::string description;
};

// The host's services that the commands need; unset ones are "not available".
struct AddOnServices {
  std::function<void()> toggleMapPalette;
  std::function<void()> toggleCloudPalette;
  std::function<void()> removeDuplicates;
  std::function<void(const std::string& url)> openUrl;
  std::function<void(const std::string& text)> notice;
};

// The four entry functions, in the order the host calls them.
int CheckEnvironment(EnvironmentInfo& info);
// The menu items as registered: submenu path and item texts with the suffix.
std::vector<std::string> RegisterInterface();
int Initialize(AddOnServices services);
int FreeData();

// Menu handler: items 1 to 4 of menu 32500; other menus are ignored. Always 0.
int MenuCommandHandler(int menuId, int item);

// The item text as the user sees it (without the enablement suffix).
std::string menuItemLabel(int item);

}  // namespace veldra::app
