// veldra mock-services: the fixture server on the command line.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>

#include "app/Commands.h"
#include "net/Endpoints.h"
#include "net/FixtureServer.h"
#include "platform/Paths.h"

namespace {

int usage(const char* why) {
  std::cerr << "mock-services: " << why << "\n"
            << "usage: veldra mock-services --root DIR [--port N] [--exit-on-stdin-eof] [--write-endpoints FILE]\n";
  return 2;
}

int run(const std::vector<std::string>& args) {
  std::string root;
  std::string endpointsFile;
  long port = 0;
  bool exitOnEof = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "--root" && hasValue) {
      root = args[++i];
    } else if (a == "--port" && hasValue) {
      try {
        std::size_t used = 0;
        port = std::stol(args[++i], &used);
        if (used != args[i].size() || port < 0 || port > 65535) return usage("port must be 0..65535");
      } catch (const std::exception&) {
        return usage("port must be 0..65535");
      }
    } else if (a == "--write-endpoints" && hasValue) {
      endpointsFile = args[++i];
    } else if (a == "--exit-on-stdin-eof") {
      exitOnEof = true;
    } else {
      return usage(("unknown argument " + a).c_str());
    }
  }
  if (root.empty()) return usage("--root is required");

  std::string error;
  auto server = veldra::fixture::FixtureServer::fromDirectory(root, error);
  if (!server) {
    std::cerr << "mock-services: " << error << "\n";
    return 1;
  }

  // Signals are taken by sigwait below; every thread started later inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  if (!server->start(static_cast<std::uint16_t>(port), error)) {
    std::cerr << "mock-services: " << error << "\n";
    return 1;
  }
  if (!endpointsFile.empty()) {
    auto table = veldra::endpoints::loopbackRewrites(server->baseUrl());
    std::string werr = veldra::platform::writeFileAtomically(endpointsFile, veldra::endpoints::rewriteTableJson(table));
    if (!werr.empty()) {
      std::cerr << "mock-services: " << werr << "\n";
      server->stop();
      return 1;
    }
  }
  std::printf("PORT %u\n", static_cast<unsigned>(server->port()));
  std::fflush(stdout);

  if (exitOnEof) {
    std::thread([] {
      char buf[256];
      while (::read(STDIN_FILENO, buf, sizeof buf) > 0) {
      }
      ::kill(::getpid(), SIGTERM);
    }).detach();
  }
  int sig = 0;
  sigwait(&stopSignals, &sig);
  server->stop();
  std::cerr << "mock-services: stopped after " << server->requestCount() << " requests\n";
  return 0;
}

const veldra::app::CommandRegistrar reg{
    "mock-services", "--root DIR [--port N] [--exit-on-stdin-eof] [--write-endpoints FILE]  canned HTTP answers on 127.0.0.1",
    &run};

}  // namespace
