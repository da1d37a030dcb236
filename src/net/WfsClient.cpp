#include "net/WfsClient.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "net/HostSpacing.h"

namespace veldra {

namespace {

long long spacingFromEnvironment() {
  const char* v = std::getenv("VELDRA_HOST_SPACING_MS");
  if (!v || !*v) return WfsClient::kDefaultHostSpacingMs;
  char* end = nullptr;
  long long ms = std::strtoll(v, &end, 10);
  // Only a shorter spacing is honoured; anything unreadable keeps the default.
  if (*end != '\0' || ms < 0 || ms > WfsClient::kDefaultHostSpacingMs) return WfsClient::kDefaultHostSpacingMs;
  return ms;
}

// A header value must not smuggle in further header lines.
std::string headerValue(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

}  // namespace

std::string urlEncode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

WfsClient::WfsClient(HttpTransport* transport)
    : transport_(transport ? *transport : defaultTransport()), hostSpacingMs_(spacingFromEnvironment()) {}

void WfsClient::throttleHost(const std::string& host) {
  while (const long long wait = tryStartHostRequest(host, hostSpacingMs_))
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
}

HttpResponse WfsClient::request(const std::string& method, const std::string& url, const std::string& body,
                                const std::string& contentType, long receiveTimeoutMs) {
  if (transferCancelled()) return HttpResponse{0, {}, kTransferCancelledText};
  throttleHost(hostOf(url));
  httpTrace("[http] %s %s\n", method.c_str(), url.substr(0, 120).c_str());
  std::string headers;
  if (!contentType.empty()) headers += "Content-Type: " + headerValue(contentType) + "\r\n";
  if (!token.empty()) headers += "Authorization: Bearer " + headerValue(token) + "\r\n";
  auto t = transport_.performRequest(method, url, headers, body, kConnectTimeoutMs, receiveTimeoutMs, userAgent);
  return HttpResponse{t.status, std::move(t.body), std::move(t.error)};
}

HttpResponse WfsClient::get(const std::string& url) {
  auto r = request("GET", url, {}, {}, kDefaultReceiveTimeoutMs);
  bool success = r.status >= 200 && r.status <= 299;
  bool clientError = r.status >= 400 && r.status <= 499;
  if (success || clientError || transferCancelled()) return r;
  std::this_thread::sleep_for(std::chrono::milliseconds(kRetryDelayMs));
  return request("GET", url, {}, {}, kDefaultReceiveTimeoutMs);
}

HttpResponse WfsClient::getOnce(const std::string& url, long receiveTimeoutMs) {
  return request("GET", url, {}, {}, receiveTimeoutMs);
}

HttpResponse WfsClient::postJson(const std::string& url, const std::string& body) {
  return request("POST", url, body, "application/json", kDefaultReceiveTimeoutMs);
}

}  // namespace veldra
