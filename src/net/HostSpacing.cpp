#include "net/HostSpacing.h"

#include <chrono>
#include <map>
#include <mutex>

namespace veldra {

namespace {

long long monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, long long> lastStart;   // host -> monotonic ms of the last start taken
};

Registry& registry() {
  static Registry* r = new Registry;   // never destroyed: workers may still ask during exit
  return *r;
}

}  // namespace

long long tryStartHostRequest(const std::string& host, long long spacingMs) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const long long now = monotonicMs();
  auto [it, fresh] = r.lastStart.try_emplace(host, now);
  if (fresh) return 0;
  const long long wait = it->second + spacingMs - now;
  if (wait > 0) return wait;
  it->second = now;
  return 0;
}

}  // namespace veldra
