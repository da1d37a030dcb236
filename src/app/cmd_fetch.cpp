// veldra fetch: one request through the service client, for checking a
// service or a mirror by hand and for black-box tests of the client.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "net/WfsClient.h"
#include "platform/Paths.h"

namespace {

int usage(const std::string& why) {
  std::cerr << "fetch: " << why << "\n"
            << "usage: veldra fetch URL [--once|--cached|--text-cached|--post JSON] [--timeout MS] [--out FILE]\n";
  return 2;
}

int run(const std::vector<std::string>& args) {
  std::string url, mode = "get", post, out;
  long timeoutMs = 15000;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "--once" || a == "--cached" || a == "--text-cached") {
      mode = a.substr(2);
    } else if (a == "--post" && hasValue) {
      mode = "post";
      post = args[++i];
    } else if (a == "--timeout" && hasValue) {
      try {
        timeoutMs = std::stol(args[++i]);
      } catch (const std::exception&) {
        return usage("--timeout needs milliseconds");
      }
      if (timeoutMs <= 0) return usage("--timeout needs milliseconds");
    } else if (a == "--out" && hasValue) {
      out = args[++i];
    } else if (!a.empty() && a[0] != '-' && url.empty()) {
      url = a;
    } else {
      return usage("unknown argument " + a);
    }
  }
  if (url.empty()) return usage("URL is required");

  veldra::WfsClient client;
  std::string body, error;
  int status = 0;
  if (mode == "cached") {
    std::string path = client.getCachedFile(
        url,
        [](std::int64_t done, std::int64_t total) {
          std::cerr << "progress " << done << " " << total << "\n";
          return true;
        },
        timeoutMs, error);
    if (path.empty()) {
      std::cout << "error " << error << "\n";
      return 1;
    }
    std::cout << "path " << path << "\n";
    return 0;
  }
  if (mode == "text-cached") {
    body = client.getTextCached(url, timeoutMs);
    status = body.empty() ? 0 : 200;
  } else {
    veldra::HttpResponse r = mode == "post" ? client.postJson(url, post)
                             : mode == "once" ? client.getOnce(url, timeoutMs)
                                              : client.get(url);
    status = r.status;
    body = std::move(r.body);
    error = std::move(r.error);
  }
  std::cout << "status " << status << "\n";
  if (!error.empty()) std::cout << "error " << error << "\n";
  std::cout << "bytes " << body.size() << "\n";
  const bool ok = status >= 200 && status <= 299 && error.empty();
  // A failed request leaves an existing file as it was.
  if (!ok) return 1;
  if (!out.empty()) {
    if (const std::string why = veldra::platform::writeFileAtomically(out, body); !why.empty()) {
      std::cerr << "fetch: cannot write " << out << ": " << why << "\n";
      return 1;
    }
  }
  return 0;
}

const veldra::app::CommandRegistrar reg{
    "fetch", "URL [--once|--cached|--text-cached|--post JSON] [--timeout MS] [--out FILE]  one request through the service client",
    &run};

}  // namespace
