// The two transport calls every network access goes through, and their
// libcurl implementation.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace veldra {

struct TransportResponse {
  int status = 0;       // HTTP status, 0 when no response was received
  std::string body;
  std::string error;    // empty when the transport succeeded
  bool ok = false;      // status 200..299 and error empty
};

struct StreamResult {
  int status = 0;
  std::string error;
  bool ok = false;
};

// (bytes, count, expected total or 0 when unknown) -> false stops the download.
using ChunkSink = std::function<bool(const char* data, std::size_t n, std::uint64_t total)>;

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;

  // `headers` is one text of lines each ending with CR LF (may be empty).
  // The body is read whatever the status.
  virtual TransportResponse performRequest(const std::string& method, const std::string& url,
                                           const std::string& headers, const std::string& body,
                                           long connectTimeoutMs, long receiveTimeoutMs,
                                           const std::string& userAgent) = 0;

  // GET handing the body to `sink` chunk by chunk; a status outside 200..299
  // ends the call before the body is read. An exception thrown by the sink
  // ends the transfer and is rethrown to the caller.
  virtual StreamResult performStreamingGet(const std::string& url, long connectTimeoutMs, long receiveTimeoutMs,
                                           const std::string& userAgent, const ChunkSink& sink) = 0;
};

// libcurl stand-in for the system HTTP stack. Failures map onto these texts:
//   URL without "://", not http(s), malformed  -> "Nieprawidlowy URL: " + url
//   easy handle cannot be created              -> "WinHttpOpen nieudane"
//   host not resolved, connection refused      -> "Brak polaczenia z " + host
//   connect time-out, TLS failure, send error  -> "Wyslanie zapytania nieudane (timeout?)"
//   no (valid) response before the receive
//   time-out, connection dropped               -> "Brak odpowiedzi serwera"
//   body cut short (Content-Length not met)    -> "Pobieranie przerwane (X z Y)."
// The receive time-out is the longest wait without receiving data, enforced
// by a watchdog in the progress callback (curl's own options either cap the
// whole transfer or average speed over several seconds).
// URLs are rewritten by the endpoint table (Endpoints.h) just before the
// request; texts and hosts in errors are those of the original address.
class CurlTransport : public HttpTransport {
 public:
  // Bodies kept in memory by performRequest are capped; a larger answer is
  // refused instead of exhausting memory.
  static constexpr std::uint64_t kDefaultMaxBodyBytes = 1ull << 30;

  explicit CurlTransport(std::uint64_t maxBodyBytes = kDefaultMaxBodyBytes) : maxBodyBytes_(maxBodyBytes) {}

  TransportResponse performRequest(const std::string& method, const std::string& url, const std::string& headers,
                                   const std::string& body, long connectTimeoutMs, long receiveTimeoutMs,
                                   const std::string& userAgent) override;
  StreamResult performStreamingGet(const std::string& url, long connectTimeoutMs, long receiveTimeoutMs,
                                   const std::string& userAgent, const ChunkSink& sink) override;

 private:
  std::uint64_t maxBodyBytes_;
};

// While a scope is alive, transfers on its thread stop once `flag` is true: a
// request not yet started is not sent, a running one ends within about a
// second with "Pobieranie anulowane.". The fetch worker holds one for the
// page's cancel request, so a sheet download of minutes does not outlive it.
class TransferCancelScope {
 public:
  explicit TransferCancelScope(const std::atomic<bool>& flag);
  ~TransferCancelScope();
  TransferCancelScope(const TransferCancelScope&) = delete;
  TransferCancelScope& operator=(const TransferCancelScope&) = delete;

 private:
  const std::atomic<bool>* previous_;
};
// True when the innermost scope of this thread has been cancelled.
bool transferCancelled();
inline constexpr const char* kTransferCancelledText = "Pobieranie anulowane.";

// The process-wide transport used by clients that are not given one.
HttpTransport& defaultTransport();

// Trace lines go to standard error while GIS_DEBUG_HTTP exists (checked on every use).
bool httpTraceEnabled();
void httpTrace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "%lld B", "%.1f KB", "%.1f MB" with a decimal comma: 1536 -> "1,5 KB".
std::string formatByteSize(long long n);

// Part after the first "://" up to the next "/"; the whole text without "://".
std::string hostOf(const std::string& url);

}  // namespace veldra
