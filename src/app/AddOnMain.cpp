#include "app/AddOnMain.h"

#include <map>
#include <utility>

namespace veldra::app {

namespace {

AddOnServices& services() {
  static AddOnServices s;
  return s;
}

const std::map<std::pair<int, int>, std::string>& strings() {
  static const std::map<std::pair<int, int>, std::string> table = {
      {{32000, 1}, "GIS Import"},
      {{32000, 2}, "Import danych GIS (dzialki, budynki, MPZP/POG, GESUT) z WFS GUGiK i Rejestru Urbanistycznego"},
      {{32500, 1}, "Orvane"},
      {{32500, 2}, "GIS Import"},
      {{32500, 3}, std::string("Mapa importu GIS") + kMenuEnableSuffix},
      {{32500, 4}, std::string("Chmura punktow") + kMenuEnableSuffix},
      {{32500, 5}, std::string("Czyszczenie duplikatow (polilinie + teksty)") + kMenuEnableSuffix},
      {{32500, 6}, std::string("Otwórz ") + kMakerUrl + kMenuEnableSuffix},
  };
  return table;
}

void notAvailable(const std::string& what) {
  if (services().notice) services().notice(what + " nie jest dostepne w tej wersji.");
}

}  // namespace

std::string resourceString(int table, int index) {
  auto it = strings().find({table, index});
  return it == strings().end() ? std::string() : it->second;
}

std::string menuItemLabel(int item) {
  std::string text = resourceString(kMenuStringTable, item + 2);
  if (const auto at = text.find('^'); at != std::string::npos) text.erase(at);
  return text;
}

int CheckEnvironment(EnvironmentInfo& info) {
  info.name = resourceString(kAddOnStringTable, 1);
  info.description = resourceString(kAddOnStringTable, 2);
  return kAddOnKind;
}

std::vector<std::string> RegisterInterface() {
  std::vector<std::string> menu;
  for (int i = 1; i <= 6; ++i) menu.push_back(resourceString(kMenuStringTable, i));
  return menu;
}

int Initialize(AddOnServices s) {
  services() = std::move(s);
  return 0;
}

int FreeData() { return 0; }

int MenuCommandHandler(int menuId, int item) {
  if (menuId != kMenuStringTable) return 0;
  const AddOnServices& s = services();
  switch (item) {
    case 1:
      if (s.toggleMapPalette) s.toggleMapPalette(); else notAvailable("Mapa importu GIS");
      break;
    case 2:
      if (s.toggleCloudPalette) s.toggleCloudPalette();
      break;
    case 3:
      if (s.removeDuplicates) s.removeDuplicates(); else notAvailable("Czyszczenie duplikatow");
      break;
    case 4:
      if (s.openUrl) s.openUrl(kMakerUrl);
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace veldra::app
