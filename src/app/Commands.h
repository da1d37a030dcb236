// Subcommands of the veldra executable. Each command file registers itself:
//
//   static const veldra::app::CommandRegistrar reg{"lazinfo", "FILE [--points N]  print LAS/LAZ header facts", &run};
//
// main() dispatches on the first argument.
#pragma once

#include <string>
#include <vector>

namespace veldra::app {

// Arguments after the subcommand name; returns the process exit status.
using CommandFn = int (*)(const std::vector<std::string>& args);

struct Command {
  const char* name;
  const char* usage;
  CommandFn run;
};

std::vector<Command>& commandTable();

struct CommandRegistrar {
  CommandRegistrar(const char* name, const char* usage, CommandFn fn) { commandTable().push_back({name, usage, fn}); }
};

}  // namespace veldra::app
