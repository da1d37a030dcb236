#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "app/Commands.h"
#include "app/Version.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"

namespace veldra::app {

std::vector<Command>& commandTable() {
  static std::vector<Command> table;
  return table;
}

namespace {

void printHelp(std::ostream& out) {
  auto cmds = commandTable();
  std::sort(cmds.begin(), cmds.end(), [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
  out << "VELDRA " << kVersion << " - Polish public geodata for design projects\n\n"
      << "usage: veldra <command> [options]\n\ncommands:\n";
  for (const auto& c : cmds) out << "  " << c.name << " " << c.usage << "\n";
  out << "\n  --help      this text\n  --version   print the version\n";
}

}  // namespace
}  // namespace veldra::app

int main(int argc, char** argv) {
  using namespace veldra::app;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    printHelp(std::cout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << "veldra " << kVersion << " (" << buildDateText() << ")\n";
    return 0;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& c : commandTable()) {
    if (std::strcmp(c.name, argv[1]) == 0) {
      // Our own folders: what a killed run left half-written there is of no use to anyone.
      veldra::platform::sweepStaleTemporaries(veldra::platform::roamingDataDir() / "VELDRA");
      veldra::platform::sweepStaleTemporaries(veldra::platform::localDataDir() / "VELDRA" / "cache");
      curl_global_init(CURL_GLOBAL_DEFAULT);
      int rc = c.run(args);
      curl_global_cleanup();
      return rc;
    }
  }
  std::cerr << "veldra: unknown command '" << argv[1] << "' (see veldra --help)\n";
  return 2;
}
