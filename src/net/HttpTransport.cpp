#include "net/HttpTransport.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include <curl/curl.h>
#include <openssl/crypto.h>

#include "net/Endpoints.h"

namespace veldra {

namespace {

// Workers are detached and may still be ending when the process exits.
// OpenSSL's exit-time clean-up frees per-thread state that such a thread then
// frees again; without it the system reclaims everything at exit. This must
// be the first OpenSSL initialisation of the process, hence a static.
[[maybe_unused]] const bool gCryptoWithoutExitCleanup = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

using Clock = std::chrono::steady_clock;

bool startsWithNoCase(const std::string& s, const char* prefix) {
  std::size_t n = std::strlen(prefix);
  if (s.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Accepts only absolute http(s) URLs with a host, as the system URL cracker does.
bool validUrl(const std::string& url) {
  if (url.find("://") == std::string::npos) return false;
  if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://")) return false;
  for (unsigned char c : url) {
    if (c <= 0x20 || c == 0x7f) return false;
  }
  CURLU* u = curl_url();
  if (!u) return false;
  bool ok = curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
  if (ok) {
    char* host = nullptr;
    ok = curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host && std::strlen(host) <= 255;
    curl_free(host);
  }
  curl_url_cleanup(u);
  return ok;
}

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// State shared with the libcurl callbacks of one transfer.
struct Transfer {
  CURL* handle = nullptr;
  bool https = false;
  long idleMs = 0;
  Clock::time_point lastActivity = Clock::now();
  curl_off_t lastDown = -1;
  curl_off_t lastUp = -1;
  bool idleExpired = false;
  bool headersSeen = false;

  // performRequest
  std::string* body = nullptr;
  std::uint64_t maxBody = 0;
  bool tooLarge = false;

  // performStreamingGet
  const ChunkSink* sink = nullptr;
  bool statusChecked = false;
  bool statusRejected = false;
  bool cancelled = false;
  std::uint64_t received = 0;
  std::uint64_t contentLength = 0;
  // An exception from the sink cannot cross libcurl; it is carried past it.
  std::exception_ptr sinkException;

  bool connected() const {
    curl_off_t t = 0;
    if (curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &t) != CURLE_OK || t <= 0) return false;
    if (!https) return true;
    t = 0;
    return curl_easy_getinfo(handle, CURLINFO_APPCONNECT_TIME_T, &t) == CURLE_OK && t > 0;
  }
};

int onProgress(void* p, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  auto* x = static_cast<Transfer*>(p);
  if (transferCancelled()) {
    x->cancelled = true;
    return 1;
  }
  if (x->idleMs <= 0) return 0;
  auto now = Clock::now();
  // The connect phase has its own time-out.
  if (dlnow != x->lastDown || ulnow != x->lastUp || !x->connected()) {
    x->lastDown = dlnow;
    x->lastUp = ulnow;
    x->lastActivity = now;
    return 0;
  }
  if (now - x->lastActivity > std::chrono::milliseconds(x->idleMs)) {
    x->idleExpired = true;
    return 1;
  }
  return 0;
}

size_t onHeader(char*, size_t size, size_t n, void* p) {
  auto* x = static_cast<Transfer*>(p);
  x->headersSeen = true;
  x->lastActivity = Clock::now();
  return size * n;
}

size_t onBody(char* data, size_t size, size_t n, void* p) {
  auto* x = static_cast<Transfer*>(p);
  size_t len = size * n;
  x->lastActivity = Clock::now();
  if (x->body->size() + len > x->maxBody) {
    x->tooLarge = true;
    return 0;
  }
  try {
    x->body->append(data, len);
  } catch (const std::bad_alloc&) {
    x->tooLarge = true;
    return 0;
  }
  return len;
}

long responseCode(CURL* h) {
  long code = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
  return code;
}

std::uint64_t contentLengthOf(CURL* h) {
  curl_off_t cl = -1;
  if (curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &cl) != CURLE_OK || cl < 0) return 0;
  return static_cast<std::uint64_t>(cl);
}

size_t onStreamBody(char* data, size_t size, size_t n, void* p) {
  auto* x = static_cast<Transfer*>(p);
  size_t len = size * n;
  x->lastActivity = Clock::now();
  if (!x->statusChecked) {
    x->statusChecked = true;
    long code = responseCode(x->handle);
    if (code < 200 || code > 299) {
      x->statusRejected = true;
      return 0;
    }
    x->contentLength = contentLengthOf(x->handle);
  }
  bool more = false;
  try {
    more = (*x->sink)(data, len, x->contentLength);
  } catch (...) {
    x->sinkException = std::current_exception();
    return 0;
  }
  if (!more) {
    x->cancelled = true;
    return 0;
  }
  x->received += len;
  return len;
}

std::string noProxyList() {
  std::string list = "localhost,127.0.0.1,::1";
  for (const char* var : {"no_proxy", "NO_PROXY"}) {
    if (const char* v = std::getenv(var); v && *v) return std::string(v) + "," + list;
  }
  return list;
}

void configureCommon(CURL* h, Transfer& x, const std::string& url, long connectTimeoutMs, long receiveTimeoutMs,
                     const std::string& userAgent) {
  x.handle = h;
  x.https = startsWithNoCase(url, "https://");
  x.idleMs = receiveTimeoutMs;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs > 0 ? connectTimeoutMs : 0L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  // The system stack refuses to follow an HTTPS page to plain HTTP.
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, x.https ? "https" : "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(h, CURLOPT_NOPROXY, noProxyList().c_str());
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &x);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &x);
}

enum class Failure { None, Connect, Send, NoResponse, Truncated, Redirect };

// Sorts a libcurl result into the failure classes of the error texts.
Failure classify(CURLcode rc, const Transfer& x, long code) {
  switch (rc) {
    case CURLE_OK:
      return Failure::None;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return Failure::Connect;
    case CURLE_OPERATION_TIMEDOUT:
      return x.headersSeen ? Failure::Truncated : (x.connected() ? Failure::NoResponse : Failure::Send);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SEND_ERROR:
      return Failure::Send;
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return code >= 300 && code <= 399 ? Failure::Redirect : Failure::NoResponse;
    default:
      return code > 0 && x.headersSeen ? Failure::Truncated : Failure::NoResponse;
  }
}

std::string truncatedText(std::uint64_t received, std::uint64_t total) {
  return "Pobieranie przerwane (" + formatByteSize(static_cast<long long>(received)) + " z " +
         formatByteSize(static_cast<long long>(total)) + ").";
}

}  // namespace

bool httpTraceEnabled() { return std::getenv("GIS_DEBUG_HTTP") != nullptr; }

void httpTrace(const char* fmt, ...) {
  if (!httpTraceEnabled()) return;
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
}

std::string formatByteSize(long long n) {
  char buf[64];
  if (n < 1024) {
    std::snprintf(buf, sizeof buf, "%lld B", n);
  } else if (n < 1048576) {
    std::snprintf(buf, sizeof buf, "%.1f KB", static_cast<double>(n) / 1024.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(n) / 1048576.0);
  }
  std::string s(buf);
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  return s;
}

std::string hostOf(const std::string& url) {
  auto p = url.find("://");
  if (p == std::string::npos) return url;
  auto start = p + 3;
  auto end = url.find('/', start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The address actually contacted: checked as given, rewritten by the endpoint
// table, checked again. Errors name the address the caller gave.
static endpoints::RoutedUrl routeForRequest(const std::string& url) {
  if (!validUrl(url)) return {{}, "Nieprawidlowy URL: " + url};
  endpoints::RoutedUrl routed = endpoints::route(url);
  if (routed.error.empty() && !validUrl(routed.url)) routed.error = "Nieprawidlowy URL: " + url;
  return routed;
}

TransportResponse CurlTransport::performRequest(const std::string& method, const std::string& url,
                                                const std::string& headers, const std::string& body,
                                                long connectTimeoutMs, long receiveTimeoutMs,
                                                const std::string& userAgent) {
  TransportResponse r;
  if (transferCancelled()) {
    r.error = kTransferCancelledText;
    return r;
  }
  const endpoints::RoutedUrl routed = routeForRequest(url);
  if (!routed.error.empty()) {
    r.error = routed.error;
    return r;
  }

  std::unique_ptr<CURL, EasyDeleter> h(curl_easy_init());
  httpTrace("[http] session otwarta\n");
  if (!h) {
    r.error = "WinHttpOpen nieudane";
    return r;
  }
  Transfer x;
  configureCommon(h.get(), x, routed.url, connectTimeoutMs, receiveTimeoutMs, userAgent);
  x.body = &r.body;
  x.maxBody = maxBodyBytes_;
  curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, &onBody);
  curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &x);

  // Only the caller's headers go out: curl's defaults (Accept, Expect, a form
  // content type on POST) are removed.
  curl_slist* list = nullptr;
  bool hasContentType = false;
  std::size_t pos = 0;
  while (pos < headers.size()) {
    auto eol = headers.find("\r\n", pos);
    std::string line = headers.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
    pos = eol == std::string::npos ? headers.size() : eol + 2;
    if (line.empty()) continue;
    if (startsWithNoCase(line, "content-type:")) hasContentType = true;
    list = curl_slist_append(list, line.c_str());
  }
  list = curl_slist_append(list, "Accept:");
  list = curl_slist_append(list, "Expect:");
  if (!hasContentType) list = curl_slist_append(list, "Content-Type:");
  std::unique_ptr<curl_slist, ListDeleter> listGuard(list);
  curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, list);

  if (method == "GET") {
    curl_easy_setopt(h.get(), CURLOPT_HTTPGET, 1L);
  } else if (method == "HEAD") {
    curl_easy_setopt(h.get(), CURLOPT_NOBODY, 1L);
  } else {
    if (method == "POST" || !body.empty()) {
      curl_easy_setopt(h.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      curl_easy_setopt(h.get(), CURLOPT_POSTFIELDS, body.data());
    }
    if (method != "POST") curl_easy_setopt(h.get(), CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  CURLcode rc = curl_easy_perform(h.get());
  if (x.cancelled) {
    r.body.clear();
    r.error = kTransferCancelledText;
    return r;
  }
  long code = responseCode(h.get());
  Failure f = (rc == CURLE_ABORTED_BY_CALLBACK && x.idleExpired)
                  ? (x.headersSeen ? Failure::Truncated : Failure::NoResponse)
                  : classify(rc, x, code);
  bool sent = f != Failure::Connect && f != Failure::Send;
  httpTrace("[http] SendRequest=%d err=%lu\n", sent ? 1 : 0, sent ? 0ul : static_cast<unsigned long>(rc));
  if (sent) {
    if (code > 0) {
      httpTrace("[http] odpowiedz OK, czytam body\n");
    } else {
      httpTrace("[http] ReceiveResponse FAIL err=%lu\n", static_cast<unsigned long>(rc));
    }
  }

  if (x.tooLarge) {
    r.body.clear();
    r.body.shrink_to_fit();
    r.error = "Odpowiedz serwera zbyt duza (ponad " + formatByteSize(static_cast<long long>(maxBodyBytes_)) + ").";
    return r;
  }
  switch (f) {
    case Failure::None:
    case Failure::Redirect:
      r.status = static_cast<int>(code);
      break;
    case Failure::Connect:
      r.error = "Brak polaczenia z " + hostOf(url);
      break;
    case Failure::Send:
      r.error = "Wyslanie zapytania nieudane (timeout?)";
      break;
    case Failure::NoResponse:
      r.error = "Brak odpowiedzi serwera";
      break;
    case Failure::Truncated: {
      // A body cut short is not an answer: callers judge by the status, so it must not look like one.
      std::uint64_t total = contentLengthOf(h.get());
      r.error = total > r.body.size() ? truncatedText(r.body.size(), total) : "Brak odpowiedzi serwera";
      break;
    }
  }
  if (!r.error.empty()) {
    r.status = 0;
    r.body.clear();
  }
  r.ok = r.error.empty() && r.status >= 200 && r.status <= 299;
  return r;
}

StreamResult CurlTransport::performStreamingGet(const std::string& url, long connectTimeoutMs,
                                                long receiveTimeoutMs, const std::string& userAgent,
                                                const ChunkSink& sink) {
  StreamResult r;
  if (transferCancelled()) {
    r.error = kTransferCancelledText;
    return r;
  }
  const endpoints::RoutedUrl routed = routeForRequest(url);
  if (!routed.error.empty()) {
    r.error = routed.error;
    return r;
  }
  std::unique_ptr<CURL, EasyDeleter> h(curl_easy_init());
  if (!h) {
    r.error = "WinHttpOpen nieudane";
    return r;
  }
  Transfer x;
  configureCommon(h.get(), x, routed.url, connectTimeoutMs, receiveTimeoutMs, userAgent);
  x.sink = &sink;
  curl_slist* list = nullptr;
  list = curl_slist_append(list, "Accept:");
  std::unique_ptr<curl_slist, ListDeleter> listGuard(list);
  curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(h.get(), CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, &onStreamBody);
  curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &x);

  CURLcode rc = curl_easy_perform(h.get());
  long code = responseCode(h.get());
  if (x.sinkException) std::rethrow_exception(x.sinkException);
  if (!x.statusChecked && code >= 200 && code <= 299) x.contentLength = contentLengthOf(h.get());
  if (x.statusRejected) {
    r.status = static_cast<int>(code);
    return r;
  }
  if (x.cancelled) {
    r.status = static_cast<int>(code);
    r.error = kTransferCancelledText;
    return r;
  }
  Failure f = (rc == CURLE_ABORTED_BY_CALLBACK && x.idleExpired)
                  ? (x.headersSeen ? Failure::Truncated : Failure::NoResponse)
                  : classify(rc, x, code);
  switch (f) {
    case Failure::None:
    case Failure::Redirect:
      r.status = static_cast<int>(code);
      break;
    case Failure::Connect:
      r.error = "Brak polaczenia z " + hostOf(url);
      return r;
    case Failure::Send:
      r.error = "Wyslanie zapytania nieudane (timeout?)";
      return r;
    case Failure::NoResponse:
      r.error = "Brak odpowiedzi serwera";
      return r;
    case Failure::Truncated:
      r.status = static_cast<int>(code);
      if (code < 200 || code > 299) return r;
      // Without a length, a stall or a broken transfer is still a failure,
      // never a complete file.
      if (x.contentLength == 0) {
        r.error = "Brak odpowiedzi serwera";
        return r;
      }
      break;
  }
  if (x.contentLength >= 1 && x.received < x.contentLength) {
    r.error = truncatedText(x.received, x.contentLength);
    return r;
  }
  r.ok = r.status >= 200 && r.status <= 299;
  return r;
}

namespace {
thread_local const std::atomic<bool>* t_cancelFlag = nullptr;
}

TransferCancelScope::TransferCancelScope(const std::atomic<bool>& flag) : previous_(t_cancelFlag) {
  t_cancelFlag = &flag;
}
TransferCancelScope::~TransferCancelScope() { t_cancelFlag = previous_; }

bool transferCancelled() { return t_cancelFlag && t_cancelFlag->load(); }

HttpTransport& defaultTransport() {
  static CurlTransport transport;
  return transport;
}

}  // namespace veldra
