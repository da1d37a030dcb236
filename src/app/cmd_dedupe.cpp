// `veldra dedupe --project FILE [--layer NAME]... [--dry-run]`: the duplicate
// remover without a browser. Its question counts as answered "Uruchom"; the
// numbers of deleted polylines and texts are printed and the project saved.
// With --layer only elements on the named layers are compared; --dry-run lists
// the groups and changes nothing.
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "cleanup/DuplicateScan.h"
#include "cleanup/ElementReading.h"
#include "cleanup/PolylineCleaner.h"
#include "host/MemoryHost.h"
#include "host/ProjectFile.h"

namespace veldra::app {
namespace {

int usage() {
  std::cerr << "usage: veldra dedupe --project FILE [--layer NAME]... [--dry-run]\n";
  return 2;
}

struct Options {
  std::string project;
  std::vector<std::string> layers;
  bool dryRun = false;
};

bool parse(const std::vector<std::string>& args, Options& o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--dry-run") {
      o.dryRun = true;
    } else if (i + 1 < args.size() && args[i] == "--project") {
      o.project = args[++i];
    } else if (i + 1 < args.size() && args[i] == "--layer") {
      o.layers.push_back(args[++i]);
    } else {
      return false;
    }
  }
  return !o.project.empty();
}

// Elements of `type` on the active floor lying on one of `layers`.
std::vector<std::string> onLayers(MemoryHost& host, ElementType type, const std::set<int>& layers) {
  std::vector<std::string> out;
  for (const std::string& guid : cleanup::collectElements(host, type, cleanup::ElementSource::ActiveFloor)) {
    ElementHeader h;
    if (host.getElementHeader(guid, h) == kHostOk && layers.count(h.layer)) out.push_back(guid);
  }
  return out;
}

void listGroups(const cleanup::DuplicateScan& scan, const std::map<int, std::string>& layerNames) {
  for (const auto& g : scan.groups) {
    const auto name = layerNames.find(g.layer);
    std::cout << (g.type == ElementType::Polyline ? "polilinie" : "teksty") << ", warstwa "
              << (name != layerNames.end() ? name->second : std::to_string(g.layer)) << ": zostaje " << g.kept
              << ", do usuniecia:";
    for (const auto& d : g.duplicates) std::cout << " " << d;
    std::cout << "\n";
  }
  std::cout << "Do usuniecia:\n- polilinie: " << scan.duplicatePolylines.size()
            << "\n- teksty: " << scan.duplicateTexts.size() << "\n(proba: projekt bez zmian)\n";
}

int runDedupe(const std::vector<std::string>& args) {
  Options o;
  if (!parse(args, o)) return usage();
  MemoryHost host;
  if (std::string err = loadProject(o.project, host); !err.empty()) {
    std::cerr << "veldra: " << err << "\n";
    return 1;
  }
  std::map<int, std::string> layerNames;
  for (const auto& a : host.attributes(AttributeKind::Layer)) layerNames[a.index] = a.name;

  const bool someLayers = !o.layers.empty();
  std::vector<std::string> polylines, texts;
  if (someLayers) {
    std::set<int> wanted;
    for (const std::string& name : o.layers) {
      int found = 0;
      for (const auto& [index, n] : layerNames)
        if (n == name) found = index;
      if (found == 0) {
        std::cerr << "veldra: warstwa '" << name << "' nie istnieje w projekcie\n";
        return 1;
      }
      wanted.insert(found);
    }
    polylines = onLayers(host, ElementType::Polyline, wanted);
    texts = onLayers(host, ElementType::Text, wanted);
  } else {
    polylines = cleanup::collectElements(host, ElementType::Polyline, cleanup::ElementSource::ActiveFloor);
    texts = cleanup::collectElements(host, ElementType::Text, cleanup::ElementSource::ActiveFloor);
  }

  if (o.dryRun) {
    listGroups(cleanup::scanDuplicates(host, polylines, texts, cleanup::GroupListing::Build), layerNames);
    return 0;
  }
  // Named layers must never widen to the whole floor when they hold nothing,
  // so only the plain form goes through the command's own choice of elements.
  const auto outcome = someLayers ? PolylineCleaner::removeDuplicatesAmong(host, polylines, texts)
                                  : PolylineCleaner::RunRemoveDuplicatesCommand(host);
  if (!host.shownAlerts().empty()) std::cout << host.shownAlerts().back().text << "\n";
  if (outcome.result == PolylineCleaner::Outcome::Result::Refused) return 1;
  if (outcome.result != PolylineCleaner::Outcome::Result::Removed) return 0;
  if (std::string err = saveProject(host, o.project); !err.empty()) {
    std::cerr << "veldra: " << err << "\n";
    return 1;
  }
  return 0;
}

const CommandRegistrar reg{"dedupe", "--project FILE [--layer NAME]... [--dry-run]  remove duplicate polylines and texts",
                           &runDedupe};

}  // namespace
}  // namespace veldra::app
