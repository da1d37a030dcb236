// The download cache of WfsClient: every successful download kept under the
// local data folder, keyed by the SHA-1 of its URL.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

#include <openssl/evp.h>

#include "net/WfsClient.h"
#include "platform/Paths.h"

namespace veldra {

namespace fs = std::filesystem;

namespace {

// Once per process; callers that arrive while the sweep runs wait for it, so
// the sweep never removes a partial file another thread has just opened.
std::once_flag gSweepOnce;
std::mutex gCacheDirMutex;
std::string gCacheDir;   // empty: the local data folder's
std::atomic<std::uint32_t> gDownloadCounter{0};

constexpr auto kMaxAge = std::chrono::hours(24 * 30);
// A partial file younger than this may belong to a download of another
// process sharing the folder (the palette and `veldra import`, say); no
// download runs this long, so older ones are leftovers of a process that died.
constexpr auto kPartialGrace = std::chrono::hours(1);
constexpr auto kReportInterval = std::chrono::milliseconds(200);

// Unique per thread and per download, so that two downloads of one URL never
// write into one file. The ".part" in the name marks it for the sweep should
// the process die before the rename.
std::string partialPathFor(const std::string& path) {
  auto d1 = static_cast<std::uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
  std::uint32_t d2 = gDownloadCounter.fetch_add(1);
  return path + ".part." + std::to_string(d1) + "." + std::to_string(d2);
}

bool isReadableFile(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

void removeQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

}  // namespace

std::string cacheDir() {
  fs::path dir;
  {
    std::lock_guard<std::mutex> lock(gCacheDirMutex);
    dir = gCacheDir.empty() ? platform::localDataDir() / "VELDRA" / "cache" : fs::path(gCacheDir);
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  std::call_once(gSweepOnce, [&] { sweepCache(dir.string()); });
  return dir.string();
}

void setCacheDir(const std::string& folder) {
  std::lock_guard<std::mutex> lock(gCacheDirMutex);
  gCacheDir = folder;
}

std::string cachePathFor(const std::string& url, const std::string& extension) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  char hex[2 * EVP_MAX_MD_SIZE + 1] = {};
  if (EVP_Digest(url.data(), url.size(), md, &len, EVP_sha1(), nullptr) == 1) {
    for (unsigned int i = 0; i < len; ++i) std::snprintf(hex + 2 * i, 3, "%02x", md[i]);
  }
  return cacheDir() + "/" + hex + "." + (extension.empty() ? std::string("bin") : extension);
}

void sweepCache(const std::string& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return;
  std::vector<fs::path> doomed;
  auto now = fs::file_time_type::clock::now();
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::error_code sec;
    if (!fs::is_regular_file(it->symlink_status(sec))) continue;
    std::string name = it->path().filename().string();
    auto written = fs::last_write_time(it->path(), sec);
    if (sec) continue;
    const bool partial = name.size() >= 5 && name.find(".part") != std::string::npos;
    if (now - written > (partial ? std::chrono::duration_cast<fs::file_time_type::duration>(kPartialGrace)
                                 : std::chrono::duration_cast<fs::file_time_type::duration>(kMaxAge)))
      doomed.push_back(it->path());
  }
  for (const auto& p : doomed) {
    std::error_code rec;
    fs::remove(p, rec);
  }
}

std::string WfsClient::getCachedFile(const std::string& url, const ProgressFn& progress, long receiveTimeoutMs,
                                     std::string& error) {
  const std::string path = cachePathFor(url, "zip");
  if (isReadableFile(path)) return path;

  throttleHost(hostOf(url));
  const std::string partial = partialPathFor(path);
  std::FILE* out = std::fopen(partial.c_str(), "wb");
  if (!out) {
    error = "Nie mozna zapisac do pamieci podrecznej: " + partial;
    return {};
  }

  using Clock = std::chrono::steady_clock;
  std::int64_t received = 0;
  std::int64_t reported = 0;
  Clock::time_point lastReport{};
  bool firstReport = true;
  bool cancelled = false;
  bool writeFailed = false;

  ChunkSink sink = [&](const char* data, std::size_t n, std::uint64_t total64) {
    if (std::fwrite(data, 1, n, out) != n) {
      writeFailed = true;
      return false;
    }
    received += static_cast<std::int64_t>(n);
    auto now = Clock::now();
    auto total = static_cast<std::int64_t>(total64);
    bool byteTrigger = total > 0 && received - reported >= std::max<std::int64_t>(total / 100, 1);
    if (!progress) return true;
    if (!firstReport && now - lastReport < kReportInterval && !byteTrigger) return true;
    firstReport = false;
    reported = received;
    lastReport = now;
    if (!progress(received, total)) {
      cancelled = true;
      return false;
    }
    return true;
  };

  StreamResult sr;
  try {
    sr = transport_.performStreamingGet(url, kConnectTimeoutMs, receiveTimeoutMs, userAgent, sink);
  } catch (...) {
    // A throwing progress callable must not leave the partial file behind.
    std::fclose(out);
    removeQuietly(partial);
    throw;
  }
  if (progress && !cancelled && !writeFailed && sr.ok && received != reported) progress(received, received);
  // Buffered bytes may only fail to reach the disk here.
  if (std::fclose(out) != 0 && !cancelled) writeFailed = true;

  if (cancelled) {
    removeQuietly(partial);
    error = "Pobieranie anulowane.";
    return {};
  }
  if (writeFailed) {
    removeQuietly(partial);
    error = "Blad zapisu na dysk - sprawdz wolne miejsce.";
    return {};
  }
  if (sr.ok) {
    // rename() replaces the target in one step, so a concurrent reader sees
    // either the old complete file or the new one.
    std::error_code ec;
    fs::rename(partial, path, ec);
    if (ec) {
      removeQuietly(partial);
      error = "Nie mozna sfinalizowac pliku w pamieci podrecznej.";
      return {};
    }
    return path;
  }
  removeQuietly(partial);
  error = !sr.error.empty() ? sr.error : "Serwer zwrocil status " + std::to_string(sr.status);
  return {};
}

std::string WfsClient::getTextCached(const std::string& url, long receiveTimeoutMs) {
  const std::string path = cachePathFor(url, "gml");
  std::string cached;
  if (isReadableFile(path) && platform::readWholeFile(path, cached)) return cached;

  HttpResponse r = request("GET", url, {}, {}, receiveTimeoutMs);
  if (r.status < 200 || r.status > 299 || r.body.empty()) return {};
  // Written beside and renamed, so an interrupted write never looks complete.
  const std::string partial = partialPathFor(path);
  if (std::FILE* f = std::fopen(partial.c_str(), "wb")) {
    bool written = std::fwrite(r.body.data(), 1, r.body.size(), f) == r.body.size();
    if (std::fclose(f) != 0) written = false;
    std::error_code ec;
    if (written) fs::rename(partial, path, ec);
    if (!written || ec) removeQuietly(partial);
  }
  return std::move(r.body);
}

}  // namespace veldra
