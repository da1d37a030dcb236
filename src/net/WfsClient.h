// HTTP client of every service: User-Agent, bearer token, per-host spacing of
// requests, the retry rule, and the download cache.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "net/HttpTransport.h"

namespace veldra {

struct HttpResponse {
  int status = 0;  // 0 when no response was received
  std::string body;
  std::string error;
};

// (bytes done, bytes expected or 0 when unknown) -> false cancels.
using ProgressFn = std::function<bool(std::int64_t bytesDone, std::int64_t bytesTotal)>;

// Every byte outside A-Z a-z 0-9 - . _ ~ becomes %XX (upper-case hex).
// For single query values, never whole URLs.
std::string urlEncode(const std::string& text);

// Cache folder: local data folder + "VELDRA/cache", or the folder given to
// setCacheDir. Created on every call; the first call in the process also
// sweeps it (sweepCache).
std::string cacheDir();
// Before the first download: keeps this process's downloads in `folder`
// (the offline demo's sample answers must never land in the user's cache).
void setCacheDir(const std::string& folder);
// cacheDir() + "/" + SHA-1 of the URL bytes (40 lower-case hex digits) + "." + extension.
std::string cachePathFor(const std::string& url, const std::string& extension = "bin");
// Deletes partial downloads and files last written 30 days ago or earlier.
void sweepCache(const std::string& folder);

class WfsClient {
 public:
  static constexpr long kConnectTimeoutMs = 8000;
  static constexpr long kDefaultReceiveTimeoutMs = 15000;
  static constexpr long long kDefaultHostSpacingMs = 1000;
  static constexpr long kRetryDelayMs = 500;

  // Without a transport the process-wide libcurl transport is used. The host
  // spacing is 1000 ms; VELDRA_HOST_SPACING_MS (0..1000) may shorten it for
  // test suites.
  explicit WfsClient(HttpTransport* transport = nullptr);

  std::string token;                              // bearer token, sent when non-empty
  std::string userAgent = "VELDRA/0.1 (archicad-addon)";

  HttpResponse request(const std::string& method, const std::string& url, const std::string& body,
                       const std::string& contentType, long receiveTimeoutMs);
  // GET, 15 s; repeated once after 500 ms unless the status is 2xx or 4xx.
  HttpResponse get(const std::string& url);
  HttpResponse getOnce(const std::string& url, long receiveTimeoutMs);
  HttpResponse postJson(const std::string& url, const std::string& body);

  // Path of the cached download of `url` (fetched when absent), or empty with
  // `error` set. The body streams to disk; `progress` may cancel.
  std::string getCachedFile(const std::string& url, const ProgressFn& progress, long receiveTimeoutMs,
                            std::string& error);
  // The body of `url`, from the cache when present; empty on any failure.
  std::string getTextCached(const std::string& url, long receiveTimeoutMs);

  // Waits until the spacing since the last request to `host` has passed, from
  // whichever client or thread that request came.
  void throttleHost(const std::string& host);

  static std::string hostOf(const std::string& url) { return veldra::hostOf(url); }
  static std::string urlEncode(const std::string& text) { return veldra::urlEncode(text); }
  static std::string formatByteSize(long long n) { return veldra::formatByteSize(n); }

  long long hostSpacingMs() const { return hostSpacingMs_; }
  void setHostSpacingMs(long long ms) { hostSpacingMs_ = ms; }

 private:
  HttpTransport& transport_;
  long long hostSpacingMs_;   // the last start per host is kept process-wide (HostSpacing.h)
};

}  // namespace veldra
