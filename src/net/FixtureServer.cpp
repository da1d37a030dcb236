// The only translation unit that includes Beast.
#include "net/FixtureServer.h"

#include "formats/JsonNumbers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include <sys/socket.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <nlohmann/json.hpp>

namespace veldra::fixture {

namespace fs = std::filesystem;
namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using json = nlohmann::json;

namespace {

using QueryList = std::vector<std::pair<std::string, std::string>>;

constexpr std::size_t kMaxRequestBody = 16u << 20;
constexpr std::size_t kMaxLoggedRequests = 1000;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecode(std::string_view s, bool plusIsSpace) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
      i += 2;
    } else if (s[i] == '+' && plusIsSpace) {
      out += ' ';
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

QueryList parseQuery(std::string_view q, bool keysNoCase) {
  QueryList out;
  std::size_t pos = 0;
  while (pos <= q.size()) {
    auto amp = q.find('&', pos);
    std::string_view part = q.substr(pos, amp == std::string_view::npos ? std::string_view::npos : amp - pos);
    if (!part.empty()) {
      auto eq = part.find('=');
      std::string key = percentDecode(part.substr(0, eq), true);
      std::string value = eq == std::string_view::npos ? std::string() : percentDecode(part.substr(eq + 1), true);
      out.emplace_back(keysNoCase ? lower(key) : key, value);
    }
    if (amp == std::string_view::npos) break;
    pos = amp + 1;
  }
  std::sort(out.begin(), out.end());
  return out;
}

struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  enum class Source { Text, File, Generated } source = Source::Text;
  std::string text;
  fs::path file;
  std::uint64_t size = 0;  // body length (all sources)
  std::string fill = "x";
  long delayMs = 0;
  bool contentLength = true;
  std::int64_t closeAfter = -1;
  std::int64_t stallAfter = -1;
  long stallMs = 0;
  std::size_t chunkSize = 64 * 1024;
  long chunkDelayMs = 0;
};

struct Route {
  std::string name;
  std::string method = "GET";
  std::string path;
  std::optional<QueryList> query;
  std::optional<QueryList> queryIncludes;
  bool keysNoCase = false;
  std::string bodyContains;
  std::vector<Response> responses;
  long hits = 0;
};

struct LoggedRequest {
  std::string method;
  std::string path;
  std::string query;
  std::string route;
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::size_t bodyBytes = 0;
};

// Reads the expected query of a route: an object (value or list of values per key) or "a=1&b=2".
QueryList queryFromJson(const json& j, bool keysNoCase) {
  if (j.is_string()) return parseQuery(j.get<std::string>(), keysNoCase);
  if (!j.is_object()) throw std::runtime_error("query musi byc obiektem lub tekstem");
  QueryList out;
  for (const auto& [k, v] : j.items()) {
    std::string key = keysNoCase ? lower(k) : k;
    if (v.is_array()) {
      for (const auto& e : v) out.emplace_back(key, e.get<std::string>());
    } else {
      out.emplace_back(key, v.get<std::string>());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A whole number of a manifest, checked before it is converted: a fraction, a text or a number
// too large for its field is an error with the field's name, not a wrapped or undefined value.
std::int64_t wholeNumber(const json& j, const char* key, std::int64_t fallback, std::int64_t lo, std::int64_t hi,
                         const std::string& outOfRange) {
  const auto it = j.find(key);
  if (it == j.end()) return fallback;
  std::int64_t v = 0;
  switch (readJsonWhole(*it, lo, hi, v)) {
    case JsonWhole::Ok: return v;
    case JsonWhole::OutOfRange: throw std::runtime_error(outOfRange);
    case JsonWhole::NotWhole: break;
  }
  throw std::runtime_error(std::string(key) + " musi byc liczba calkowita");
}

// Longest pause a manifest may ask for: a day.
constexpr std::int64_t kMaxPauseMs = 86'400'000;

Response responseFromJson(const json& j, const fs::path& root) {
  if (!j.is_object()) throw std::runtime_error("odpowiedz musi byc obiektem");
  Response r;
  r.status = static_cast<int>(wholeNumber(j, "status", 200, 100, 999, "status poza 100..999"));
  if (auto it = j.find("headers"); it != j.end()) {
    for (const auto& [k, v] : it->items()) r.headers.emplace_back(k, v.get<std::string>());
  }
  if (auto it = j.find("content_type"); it != j.end()) r.headers.emplace_back("Content-Type", it->get<std::string>());
  for (const auto& [k, v] : r.headers) {
    if ((k + v).find_first_of("\r\n") != std::string::npos) throw std::runtime_error("naglowek z koncem linii");
  }
  int sources = int(j.contains("body")) + int(j.contains("body_file")) + int(j.contains("body_size"));
  if (sources > 1) throw std::runtime_error("podaj jedno z: body, body_file, body_size");
  if (j.contains("body")) {
    r.text = j.at("body").get<std::string>();
    r.size = r.text.size();
  } else if (j.contains("body_file")) {
    fs::path rel = fs::path(j.at("body_file").get<std::string>()).lexically_normal();
    if (rel.is_absolute() || rel.empty() || *rel.begin() == "..") {
      throw std::runtime_error("body_file poza katalogiem fikstur: " + rel.string());
    }
    r.source = Response::Source::File;
    r.file = root / rel;
    std::error_code ec;
    r.size = fs::file_size(r.file, ec);
    if (ec) throw std::runtime_error("brak pliku " + r.file.string());
  } else if (j.contains("body_size")) {
    r.source = Response::Source::Generated;
    if (!j.at("body_size").is_number_unsigned()) throw std::runtime_error("body_size musi byc liczba >= 0");
    r.size = j.at("body_size").get<std::uint64_t>();
    r.fill = j.value("body_fill", std::string("x"));
    if (r.fill.empty()) throw std::runtime_error("body_fill pusty");
  }
  const std::string badPause = "czas poza 0.." + std::to_string(kMaxPauseMs) + " ms";
  r.delayMs = static_cast<long>(wholeNumber(j, "delay_ms", 0, 0, kMaxPauseMs, badPause));
  r.contentLength = j.value("content_length", true);
  r.closeAfter = wholeNumber(j, "close_after", -1, -1, INT64_MAX, "close_after ponizej -1");
  r.stallAfter = wholeNumber(j, "stall_after", -1, -1, INT64_MAX, "stall_after ponizej -1");
  r.stallMs = static_cast<long>(wholeNumber(j, "stall_ms", 0, 0, kMaxPauseMs, badPause));
  r.chunkSize = static_cast<std::size_t>(
      wholeNumber(j, "chunk_size", 64 * 1024, 1, std::int64_t{16} << 20, "chunk_size poza 1..16777216"));
  r.chunkDelayMs = static_cast<long>(wholeNumber(j, "chunk_delay_ms", 0, 0, kMaxPauseMs, badPause));
  return r;
}

std::vector<Route> routesFromManifest(const std::string& text, const fs::path& root) {
  json j = json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) throw std::runtime_error("manifest nie jest obiektem JSON");
  std::vector<Route> routes;
  const json& list = j.at("routes");
  if (!list.is_array()) throw std::runtime_error("routes musi byc lista");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const json& rj = list[i];
    try {
      Route r;
      r.method = rj.value("method", std::string("GET"));
      r.path = rj.at("path").get<std::string>();
      r.name = rj.value("name", r.method + " " + r.path);
      r.keysNoCase = rj.value("query_keys_nocase", false);
      if (auto it = rj.find("query"); it != rj.end()) r.query = queryFromJson(*it, r.keysNoCase);
      if (auto it = rj.find("query_includes"); it != rj.end()) r.queryIncludes = queryFromJson(*it, r.keysNoCase);
      r.bodyContains = rj.value("body_contains", std::string());
      if (auto it = rj.find("responses"); it != rj.end()) {
        if (!it->is_array() || it->empty()) throw std::runtime_error("responses musi byc niepusta lista");
        for (const auto& e : *it) r.responses.push_back(responseFromJson(e, root));
      } else {
        r.responses.push_back(responseFromJson(rj, root));
      }
      routes.push_back(std::move(r));
    } catch (const std::exception& e) {
      throw std::runtime_error("routes[" + std::to_string(i) + "]: " + e.what());
    }
  }
  return routes;
}

bool includes(const QueryList& have, const QueryList& want) {
  return std::includes(have.begin(), have.end(), want.begin(), want.end());
}

}  // namespace

struct FixtureServer::Impl {
  fs::path root;
  std::vector<Route> routes;

  asio::io_context io;
  std::optional<tcp::acceptor> acceptor;
  std::uint16_t port = 0;
  std::thread acceptThread;

  struct Connection {
    tcp::socket socket;
    std::thread thread;
    bool done = false;  // guarded by connMutex; set when the socket is closed
    explicit Connection(tcp::socket s) : socket(std::move(s)) {}
  };
  std::mutex connMutex;
  std::list<std::unique_ptr<Connection>> connections;

  mutable std::mutex stateMutex;
  std::condition_variable wake;
  bool stopping = false;
  long total = 0;
  long unmatched = 0;
  std::deque<LoggedRequest> log;

  // Sleeps unless the server stops first; false when it stopped.
  bool pause(long ms) {
    if (ms <= 0) return true;
    std::unique_lock<std::mutex> lock(stateMutex);
    return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
  }

  bool isStopping() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return stopping;
  }

  std::string stats() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    json byRoute = json::object();
    for (const auto& r : routes) byRoute[r.name] = byRoute.value(r.name, 0L) + r.hits;
    json reqs = json::array();
    for (const auto& l : log) {
      json headers = json::object();
      for (const auto& [k, v] : l.headers) headers[k] = v;
      reqs.push_back({{"method", l.method},
                      {"path", l.path},
                      {"query", l.query},
                      {"route", l.route.empty() ? json(nullptr) : json(l.route)},
                      {"status", l.status},
                      {"headers", headers},
                      {"body_bytes", l.bodyBytes}});
    }
    json j{{"total", total}, {"unmatched", unmatched}, {"routes", byRoute}, {"requests", reqs}};
    return j.dump(-1, ' ', true, json::error_handler_t::replace);
  }

  void reset() {
    std::lock_guard<std::mutex> lock(stateMutex);
    total = 0;
    unmatched = 0;
    log.clear();
    for (auto& r : routes) r.hits = 0;
  }

  // Picks the route and the response of this request, and records it.
  std::optional<Response> choose(const std::string& method, const std::string& path, const std::string& query,
                                 const std::string& body, std::vector<std::pair<std::string, std::string>> headers,
                                 std::string& routeName) {
    std::lock_guard<std::mutex> lock(stateMutex);
    ++total;
    std::optional<Response> chosen;
    for (auto& r : routes) {
      if (r.method != "*" && r.method != method) continue;
      if (r.path != path) continue;
      if (r.query || r.queryIncludes) {
        QueryList q = parseQuery(query, r.keysNoCase);
        if (r.query && q != *r.query) continue;
        if (r.queryIncludes && !includes(q, *r.queryIncludes)) continue;
      }
      if (!r.bodyContains.empty() && body.find(r.bodyContains) == std::string::npos) continue;
      std::size_t idx = std::min<std::size_t>(static_cast<std::size_t>(r.hits), r.responses.size() - 1);
      ++r.hits;
      routeName = r.name;
      chosen = r.responses[idx];
      break;
    }
    if (!chosen) ++unmatched;
    log.push_back({method, path, query, routeName, chosen ? chosen->status : 404, std::move(headers), body.size()});
    if (log.size() > kMaxLoggedRequests) log.pop_front();
    return chosen;
  }

  static bool send(tcp::socket& s, const void* data, std::size_t n) {
    boost::system::error_code ec;
    asio::write(s, asio::buffer(data, n), ec);
    return !ec;
  }

  static std::string head(int status, const std::vector<std::pair<std::string, std::string>>& headers,
                          std::optional<std::uint64_t> length) {
    std::string reason(http::obsolete_reason(static_cast<http::status>(status)));
    std::string h = "HTTP/1.1 " + std::to_string(status) + " " + (reason.empty() ? "Status" : reason) + "\r\n";
    for (const auto& [k, v] : headers) h += k + ": " + v + "\r\n";
    if (length) h += "Content-Length: " + std::to_string(*length) + "\r\n";
    h += "Connection: close\r\n\r\n";
    return h;
  }

  void sendPlain(tcp::socket& s, int status, const std::string& type, const std::string& body) {
    std::string h = head(status, {{"Content-Type", type}}, body.size());
    if (send(s, h.data(), h.size())) send(s, body.data(), body.size());
  }

  void sendCanned(tcp::socket& s, const Response& r, bool headOnly) {
    if (!pause(r.delayMs)) return;
    std::string h = head(r.status, r.headers, r.contentLength ? std::optional<std::uint64_t>(r.size) : std::nullopt);
    if (!send(s, h.data(), h.size()) || headOnly) return;
    std::uint64_t limit = r.size;
    if (r.closeAfter >= 0) limit = std::min<std::uint64_t>(limit, static_cast<std::uint64_t>(r.closeAfter));
    std::ifstream file;
    if (r.source == Response::Source::File) {
      file.open(r.file, std::ios::binary);
      if (!file) return;
    }
    std::vector<char> buf(r.chunkSize);
    // The fill repeated past one chunk, so that any offset can be copied at once.
    std::string pattern;
    if (r.source == Response::Source::Generated) {
      while (pattern.size() < r.chunkSize + r.fill.size()) pattern += r.fill;
    }
    std::uint64_t sent = 0;
    bool stalled = false;
    while (sent < limit) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(r.chunkSize, limit - sent));
      if (r.stallAfter >= 0 && !stalled) {
        auto stallAt = static_cast<std::uint64_t>(r.stallAfter);
        if (sent >= stallAt) {
          stalled = true;
          if (!pause(r.stallMs)) return;
        } else {
          n = static_cast<std::size_t>(std::min<std::uint64_t>(n, stallAt - sent));
        }
      }
      switch (r.source) {
        case Response::Source::Text:
          std::copy_n(r.text.data() + sent, n, buf.data());
          break;
        case Response::Source::File:
          if (!file.read(buf.data(), static_cast<std::streamsize>(n))) return;
          break;
        case Response::Source::Generated:
          std::copy_n(pattern.data() + sent % r.fill.size(), n, buf.data());
          break;
      }
      if (!send(s, buf.data(), n)) return;
      sent += n;
      if (r.chunkDelayMs > 0 && sent < limit && !pause(r.chunkDelayMs)) return;
    }
  }

  void serve(tcp::socket& s) {
    boost::beast::flat_buffer buffer;
    http::request_parser<http::string_body> parser;
    parser.body_limit(kMaxRequestBody);
    boost::system::error_code ec;
    http::read(s, buffer, parser, ec);
    if (ec) return;
    const auto& req = parser.get();
    std::string method(req.method_string());
    std::string target(req.target());
    auto qm = target.find('?');
    std::string path = percentDecode(target.substr(0, qm), false);
    std::string query = qm == std::string::npos ? std::string() : target.substr(qm + 1);

    if (path == "/__stats") return sendPlain(s, 200, "application/json", stats());
    if (path == "/__reset") {
      reset();
      return sendPlain(s, 200, "application/json", "{\"ok\":true}");
    }
    std::string routeName;
    std::vector<std::pair<std::string, std::string>> headers;
    for (const auto& f : req) headers.emplace_back(std::string(f.name_string()), std::string(f.value()));
    auto chosen = choose(method, path, query, req.body(), std::move(headers), routeName);
    if (!chosen) return sendPlain(s, 404, "text/plain", "no fixture for " + method + " " + target + "\n");
    sendCanned(s, *chosen, method == "HEAD");
  }

  void closeConnection(Connection& c) {
    std::lock_guard<std::mutex> lock(connMutex);
    boost::system::error_code ec;
    c.socket.shutdown(tcp::socket::shutdown_both, ec);
    c.socket.close(ec);
    c.done = true;
  }

  void reapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
      std::lock_guard<std::mutex> lock(connMutex);
      for (auto it = connections.begin(); it != connections.end();) {
        if ((*it)->done) {
          finished.push_back(std::move(*it));
          it = connections.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (auto& c : finished) c->thread.join();
  }

  void acceptLoop() {
    while (!isStopping()) {
      tcp::socket sock(io);
      boost::system::error_code ec;
      acceptor->accept(sock, ec);
      if (ec) {
        if (isStopping()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      reapFinished();
      auto conn = std::make_unique<Connection>(std::move(sock));
      Connection* c = conn.get();
      std::lock_guard<std::mutex> lock(connMutex);
      connections.push_back(std::move(conn));
      c->thread = std::thread([this, c] {
        serve(c->socket);
        closeConnection(*c);
      });
    }
  }
};

FixtureServer::FixtureServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FixtureServer::~FixtureServer() { stop(); }

std::unique_ptr<FixtureServer> FixtureServer::fromDirectory(const std::string& root, std::string& error) {
  fs::path manifest = fs::path(root) / "manifest.json";
  std::ifstream in(manifest, std::ios::binary);
  if (!in) {
    error = "nie mozna odczytac " + manifest.string();
    return nullptr;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  return fromManifest(ss.str(), root, error);
}

std::unique_ptr<FixtureServer> FixtureServer::fromManifest(const std::string& manifestJson, const std::string& root,
                                                           std::string& error) {
  auto impl = std::make_unique<Impl>();
  impl->root = root;
  try {
    impl->routes = routesFromManifest(manifestJson, impl->root);
  } catch (const std::exception& e) {
    error = std::string("manifest: ") + e.what();
    return nullptr;
  }
  return std::unique_ptr<FixtureServer>(new FixtureServer(std::move(impl)));
}

bool FixtureServer::start(std::uint16_t port, std::string& error) {
  Impl& d = *impl_;
  if (d.acceptor) {
    error = "serwer juz dziala";
    return false;
  }
  try {
    d.acceptor.emplace(d.io);
    tcp::endpoint ep(asio::ip::address_v4::loopback(), port);
    d.acceptor->open(ep.protocol());
    d.acceptor->set_option(tcp::acceptor::reuse_address(true));
    d.acceptor->bind(ep);
    d.acceptor->listen(128);
    d.port = d.acceptor->local_endpoint().port();
  } catch (const std::exception& e) {
    d.acceptor.reset();
    error = std::string("nie mozna otworzyc 127.0.0.1:") + std::to_string(port) + ": " + e.what();
    return false;
  }
  d.acceptThread = std::thread([&d] { d.acceptLoop(); });
  return true;
}

void FixtureServer::stop() {
  Impl& d = *impl_;
  if (!d.acceptor) return;
  {
    std::lock_guard<std::mutex> lock(d.stateMutex);
    d.stopping = true;
  }
  d.wake.notify_all();
  // shutdown() wakes a thread blocked in accept() or read() on Linux.
  ::shutdown(d.acceptor->native_handle(), SHUT_RDWR);
  if (d.acceptThread.joinable()) d.acceptThread.join();
  {
    std::lock_guard<std::mutex> lock(d.connMutex);
    for (auto& c : d.connections) {
      if (!c->done) ::shutdown(c->socket.native_handle(), SHUT_RDWR);
    }
  }
  std::list<std::unique_ptr<Impl::Connection>> all;
  {
    std::lock_guard<std::mutex> lock(d.connMutex);
    all.swap(d.connections);
  }
  for (auto& c : all) c->thread.join();
  boost::system::error_code ec;
  d.acceptor->close(ec);
  d.acceptor.reset();
}

std::uint16_t FixtureServer::port() const { return impl_->port; }

std::string FixtureServer::baseUrl() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

long FixtureServer::requestCount() const {
  std::lock_guard<std::mutex> lock(impl_->stateMutex);
  return impl_->total;
}

std::string FixtureServer::statsJson() const { return impl_->stats(); }

}  // namespace veldra::fixture
