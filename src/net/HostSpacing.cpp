#include "net/HostSpacing.h"

#include <algorithm>
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

long long reserveHostStart(const std::string& host, long long spacingMs) {
  Registry& r = registry();
  const long long now = monotonicMs();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto [it, fresh] = r.lastStart.try_emplace(host, now);
  const long long start = fresh ? now : std::max(now, it->second + spacingMs);
  it->second = start;
  return start - now;
}

}  // namespace veldra
