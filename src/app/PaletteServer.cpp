// The only translation unit that includes Beast/Asio.
#include "app/PaletteServer.h"

#include <array>
#include <atomic>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "bridge/Bridge.h"
#include "platform/MainLoop.h"
#include "platform/TextCodec.h"

namespace veldra::app {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr auto kHttpReadTimeout = std::chrono::seconds(15);
constexpr std::size_t kMaxFileBytes = 64u << 20;
// Close code telling a page that another tab took its palette over.
constexpr std::uint16_t kCloseReplaced = 4001;
// A page that does not read its answers is closed once this much waits to be sent to it.
constexpr std::size_t kMaxQueuedBytes = 16u << 20;
// Texts of one socket waiting for the main thread; reading pauses at this many, so a page
// sending faster than the host works never piles up work.
constexpr int kMaxPendingTexts = 32;
// Connections are opened by one page and its few resources; past this many, or when descriptors
// run out, the connection idle for longest is closed so that a new request is still served.
constexpr std::size_t kMaxHttpConnections = 32;
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);

std::string hexToken() {
  std::array<unsigned char, 16> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    // Without a good random source the server must not start with a guessable token.
    std::ifstream urandom("/dev/urandom", std::ios::binary);
    if (!urandom.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) return {};
  }
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

bool equalConstantTime(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string base64(const unsigned char* data, std::size_t n) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < n; i += 3) {
    const unsigned v = (data[i] << 16) | ((i + 1 < n ? data[i + 1] : 0) << 8) | (i + 2 < n ? data[i + 2] : 0);
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += i + 1 < n ? abc[(v >> 6) & 63] : '=';
    out += i + 2 < n ? abc[v & 63] : '=';
  }
  return out;
}

std::string websocketAccept(std::string_view key) {
  const std::string text = std::string(key) + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  EVP_Digest(text.data(), text.size(), md, &len, EVP_sha1(), nullptr);
  return base64(md, len);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decodes a path; false on a malformed escape.
bool percentDecode(std::string_view in, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size()) return false;
    const int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

// A relative file path inside a mount: plain segments only.
bool safeRelativePath(const std::string& p) {
  if (p.empty() || p.front() == '/' || p.back() == '/') return false;
  std::size_t start = 0;
  while (start <= p.size()) {
    const std::size_t end = std::min(p.find('/', start), p.size());
    const std::string_view seg(p.data() + start, end - start);
    if (seg.empty() || seg == "." || seg == "..") return false;
    for (char c : seg)
      if (c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
    start = end + 1;
  }
  return true;
}

const char* contentType(const std::filesystem::path& p) {
  const std::string ext = p.extension().string();
  if (ext == ".html") return "text/html; charset=utf-8";
  if (ext == ".js" || ext == ".mjs") return "text/javascript; charset=utf-8";
  if (ext == ".css") return "text/css; charset=utf-8";
  if (ext == ".json") return "application/json";
  if (ext == ".png") return "image/png";
  if (ext == ".svg") return "image/svg+xml";
  return "application/octet-stream";
}

std::string injectScript(std::string html, const std::string& script) {
  const std::string tag = "<script>" + script + "</script>";
  std::size_t at = html.find("<head>");
  if (at != std::string::npos) return html.insert(at + 6, tag);
  return tag + html;
}

}  // namespace

// ---------------------------------------------------------------------------

class WsSession;
class HttpSession;

struct Mount {
  std::string name;
  std::filesystem::path dir;
  std::function<bool(const std::string&)> direct;
  std::function<void(const std::string&)> eventLog;
  void event(const std::string& line) const {
    if (eventLog) eventLog(line);
  }
  std::weak_ptr<WsSession> live;   // network thread only
  std::atomic<bool> connected{false};
  std::atomic<std::uint64_t> connections{0};   // pages connected so far
  Bridge* bridge = nullptr;        // main thread only
};

struct PaletteServer::Impl {
  std::string transport;
  std::string contentSecurityPolicy;
  std::string token;
  asio::io_context ioc{1};
  std::unique_ptr<tcp::acceptor> acceptor;
  std::thread thread;
  std::uint16_t port = 0;
  std::map<std::string, std::shared_ptr<Mount>> mounts;
  bool running = false;
  std::deque<std::weak_ptr<HttpSession>> httpSessions;   // oldest first, network thread only
  std::unique_ptr<asio::steady_timer> acceptPause;

  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port); }
  std::shared_ptr<Mount> mount(const std::string& name) const {
    auto it = mounts.find(name);
    return it == mounts.end() ? nullptr : it->second;
  }
  void accept();
  void acceptLater();
  bool closeOldestIdle();
};

// One WebSocket: RFC 6455 framing done here rather than by Beast, because a
// text that is too long or not UTF-8 must be answered and must not end the
// connection.
class WsSession : public std::enable_shared_from_this<WsSession> {
 public:
  WsSession(beast::tcp_stream stream, std::shared_ptr<Mount> mount, beast::flat_buffer leftover)
      : stream_(std::move(stream)), mount_(std::move(mount)) {
    const auto data = leftover.data();
    in_.append(static_cast<const char*>(data.data()), data.size());
  }

  void start() {
    stream_.expires_never();
    if (auto old = mount_->live.lock()) old->closeWith(kCloseReplaced, "replaced");
    mount_->live = shared_from_this();
    ++mount_->connections;
    mount_->connected = true;
    mount_->event("onLoadingState isLoading=0");
    resume();
  }

  void sendText(const std::string& text) { queueFrame(0x1, text); }

  void closeWith(std::uint16_t code, const std::string& reason) {
    if (closing_) return;
    closing_ = true;
    std::string payload;
    payload += static_cast<char>(code >> 8);
    payload += static_cast<char>(code & 0xFF);
    payload += reason;
    queueFrame(0x8, payload, true);
  }

 private:
  void read() {
    auto self = shared_from_this();
    stream_.async_read_some(asio::buffer(chunk_), [self](beast::error_code ec, std::size_t n) {
      if (ec) return self->finish();
      self->in_.append(self->chunk_.data(), n);
      self->parse();
      if (!self->closed_ && !self->paused_) self->read();
    });
  }

  // Consumes complete frame headers and whatever payload is available; memory
  // stays bounded because payload beyond the message limit is discarded as it
  // arrives instead of being stored.
  void parse() {
    std::size_t pos = 0;
    for (;;) {
      if (*pending_ >= kMaxPendingTexts) {
        paused_ = true;
        waitForMainThread();
        break;
      }
      if (remaining_ > 0) {
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, in_.size() - pos));
        if (take == 0) break;
        for (std::size_t k = 0; k < take; ++k) {
          const char c = static_cast<char>(in_[pos + k] ^ mask_[maskPos_++ & 3]);
          if (frameOpcode_ >= 0x8)
            control_ += c;
          else if (!oversize_)
            message_ += c;
        }
        if (frameOpcode_ < 0x8 && message_.size() > PaletteServer::kMaxMessageBytes) {
          oversize_ = true;
          message_.clear();
          message_.shrink_to_fit();
        }
        pos += take;
        remaining_ -= take;
        if (remaining_ > 0) break;
        frameDone();
        if (closed_) return;
        continue;
      }
      if (in_.size() - pos < 2) break;
      const auto b0 = static_cast<unsigned char>(in_[pos]), b1 = static_cast<unsigned char>(in_[pos + 1]);
      const std::size_t need = 2 + ((b1 & 0x7F) == 126 ? 2 : (b1 & 0x7F) == 127 ? 8 : 0) + 4;
      if (!(b1 & 0x80) || (b0 & 0x70)) return protocolError();   // clients must mask; no extensions
      if (in_.size() - pos < need) break;
      std::uint64_t len = b1 & 0x7F;
      std::size_t p = pos + 2;
      if (len == 126) {
        len = (static_cast<unsigned char>(in_[p]) << 8) | static_cast<unsigned char>(in_[p + 1]);
        p += 2;
      } else if (len == 127) {
        len = 0;
        for (int k = 0; k < 8; ++k) len = (len << 8) | static_cast<unsigned char>(in_[p + k]);
        p += 8;
        if (len >> 63) return protocolError();
      }
      for (int k = 0; k < 4; ++k) mask_[k] = static_cast<unsigned char>(in_[p + k]);
      maskPos_ = 0;
      const int opcode = b0 & 0x0F;
      fin_ = (b0 & 0x80) != 0;
      if (opcode >= 0x8) {
        if (!fin_ || len > 125 || (opcode != 0x8 && opcode != 0x9 && opcode != 0xA)) return protocolError();
        control_.clear();
      } else if (opcode == 0x0) {
        if (!inMessage_) return protocolError();
      } else if (opcode == 0x1 || opcode == 0x2) {
        if (inMessage_) return protocolError();
        inMessage_ = true;
        messageOpcode_ = opcode;
        message_.clear();
        oversize_ = false;
      } else {
        return protocolError();
      }
      frameOpcode_ = opcode;
      if (opcode < 0x8 && len > PaletteServer::kMaxMessageBytes) {
        // Announced sizes are checked before anything is reserved.
        oversize_ = true;
        message_.clear();
      }
      remaining_ = len;
      pos = p + 4;
      if (remaining_ == 0) {
        frameDone();
        if (closed_) return;
      }
    }
    in_.erase(0, pos);
  }

  void frameDone() {
    if (frameOpcode_ == 0x8) {
      closeWith(1000, "");
      return;
    }
    if (frameOpcode_ == 0x9) {
      queueFrame(0xA, control_);
      return;
    }
    if (frameOpcode_ == 0xA) return;
    if (!fin_) return;
    inMessage_ = false;
    std::string text;
    // Too long, binary, or not UTF-8: the empty text, which the Bridge answers
    // as a malformed message.
    if (!oversize_ && messageOpcode_ == 0x1 && isValidUtf8(message_)) text = std::move(message_);
    message_.clear();
    oversize_ = false;
    deliver(std::move(text));
  }

  void deliver(std::string text) {
    if (mount_->live.lock().get() != this) return;   // replaced: nothing reaches the bridge
    if (mount_->direct && mount_->direct(text)) return;
    ++*pending_;
    // The task holds no part of the session: it may outlive the server.
    platform::MainLoop::instance().post([m = mount_, t = std::move(text), pending = pending_] {
      if (m->bridge) m->bridge->handleMessage(t);
      --*pending;
    });
  }

  // Reading paused: looks again shortly whether the main thread has caught up.
  void waitForMainThread() {
    pauseTimer_.expires_after(std::chrono::milliseconds(20));
    pauseTimer_.async_wait([self = shared_from_this()](beast::error_code ec) {
      if (ec || self->closed_) return;
      if (*self->pending_ >= kMaxPendingTexts) return self->waitForMainThread();
      self->paused_ = false;
      self->resume();
    });
  }

  // Carries on with bytes already received, then reads more.
  void resume() {
    parse();
    if (!closed_ && !paused_) read();
  }

  void protocolError() {
    in_.clear();
    closeWith(1002, "protocol error");
  }

  void queueFrame(int opcode, const std::string& payload, bool last = false) {
    if (closed_ || (closing_ && !last)) return;
    std::string frame;
    frame += static_cast<char>(0x80 | opcode);
    const std::size_t n = payload.size();
    if (n < 126) {
      frame += static_cast<char>(n);
    } else if (n <= 0xFFFF) {
      frame += static_cast<char>(126);
      frame += static_cast<char>(n >> 8);
      frame += static_cast<char>(n & 0xFF);
    } else {
      frame += static_cast<char>(127);
      for (int k = 7; k >= 0; --k) frame += static_cast<char>((static_cast<std::uint64_t>(n) >> (8 * k)) & 0xFF);
    }
    frame += payload;
    queuedBytes_ += frame.size();
    // The page does not read what it is sent.
    if (queuedBytes_ > kMaxQueuedBytes && !last) return finish();
    out_.push_back(std::move(frame));
    if (last) closeAfterWrite_ = true;
    if (out_.size() == 1) write();
  }

  void write() {
    auto self = shared_from_this();
    asio::async_write(stream_, asio::buffer(out_.front()), [self](beast::error_code ec, std::size_t) {
      self->queuedBytes_ -= self->out_.front().size();
      self->out_.pop_front();
      if (ec) return self->finish();
      if (!self->out_.empty()) return self->write();
      if (self->closeAfterWrite_) self->finish();
    });
  }

  void finish() {
    if (closed_) return;
    closed_ = true;
    // Only a frame being written stays (its bytes are in use until the write ends).
    while (out_.size() > 1) {
      queuedBytes_ -= out_.back().size();
      out_.pop_back();
    }
    pauseTimer_.cancel();
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.socket().close(ec);
    if (mount_->live.lock().get() == this || mount_->live.expired()) {
      mount_->live.reset();
      mount_->connected = false;
    }
  }

  beast::tcp_stream stream_;
  std::shared_ptr<Mount> mount_;
  std::array<char, 16384> chunk_{};
  std::string in_;
  std::deque<std::string> out_;
  std::size_t queuedBytes_ = 0;
  std::shared_ptr<std::atomic<int>> pending_ = std::make_shared<std::atomic<int>>(0);
  asio::steady_timer pauseTimer_{stream_.get_executor()};
  bool paused_ = false;
  std::string message_, control_;
  std::uint64_t remaining_ = 0;
  unsigned char mask_[4]{};
  std::size_t maskPos_ = 0;
  int frameOpcode_ = 0, messageOpcode_ = 0;
  bool fin_ = false, inMessage_ = false, oversize_ = false;
  bool closing_ = false, closeAfterWrite_ = false, closed_ = false;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, PaletteServer::Impl& server) : stream_(std::move(socket)), server_(server) {}

  void start() { read(); }

  // Waiting for a request (not answering one): may be closed to make room.
  bool idle() const { return waiting_; }
  void close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.socket().close(ec);
  }

 private:
  void read() {
    waiting_ = true;
    parser_.emplace();
    parser_->header_limit(16 * 1024);
    parser_->body_limit(64 * 1024);
    stream_.expires_after(kHttpReadTimeout);
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      self->waiting_ = false;
      if (ec) return self->close();
      self->handle(self->parser_->release());
    });
  }

  using Request = http::request<http::string_body>;

  void reply(const Request& req, http::status status, std::string body, const char* type) {
    auto res = std::make_shared<http::response<http::string_body>>(status, req.version());
    res->set(http::field::server, "veldra");
    res->set(http::field::content_type, type);
    res->set(http::field::cache_control, "no-store");
    res->set("X-Content-Type-Options", "nosniff");
    // The token is in every address; never hand it to tile servers.
    res->set("Referrer-Policy", "no-referrer");
    res->set("X-Frame-Options", "SAMEORIGIN");
    if (!server_.contentSecurityPolicy.empty())
      res->set("Content-Security-Policy", server_.contentSecurityPolicy);
    res->keep_alive(req.keep_alive() && status == http::status::ok);
    if (req.method() == http::verb::head) {
      res->content_length(body.size());
    } else {
      res->body() = std::move(body);
      res->prepare_payload();
    }
    stream_.expires_after(kHttpReadTimeout);
    http::async_write(stream_, *res, [self = shared_from_this(), res](beast::error_code ec, std::size_t) {
      if (ec || !res->keep_alive()) return self->close();
      self->read();
    });
  }

  void refuse(const Request& req, http::status status) {
    reply(req, status, std::string(http::obsolete_reason(status)) + "\n", "text/plain; charset=utf-8");
  }

  void handle(Request req) {
    const std::string origin = server_.origin();
    // Host check guards against DNS rebinding; Origin against foreign pages.
    // HTTP/1.1: a request with more than one Host is malformed.
    if (req.count(http::field::host) > 1) return refuse(req, http::status::bad_request);
    const std::string host(req[http::field::host]);
    if (host != "127.0.0.1:" + std::to_string(server_.port)) return refuse(req, http::status::forbidden);
    const auto originIt = req.find(http::field::origin);
    if (originIt != req.end() && originIt->value() != origin) return refuse(req, http::status::forbidden);

    std::string_view target = req.target();
    if (const auto q = target.find_first_of("?#"); q != std::string_view::npos) target = target.substr(0, q);
    const std::string prefix = "/" + server_.token + "/";
    if (target.size() < prefix.size() || !equalConstantTime(target.substr(0, prefix.size()), prefix))
      return refuse(req, http::status::forbidden);
    std::string rest;
    if (!percentDecode(target.substr(prefix.size()), rest)) return refuse(req, http::status::bad_request);

    if (beast::websocket::is_upgrade(req)) return upgrade(std::move(req), rest, originIt != req.end());
    if (req.method() != http::verb::get && req.method() != http::verb::head)
      return refuse(req, http::status::method_not_allowed);

    const std::size_t slash = rest.find('/');
    auto mount = slash == std::string::npos ? nullptr : server_.mount(rest.substr(0, slash));
    if (!mount) return refuse(req, http::status::not_found);
    const std::string file = rest.substr(slash + 1);
    auto notFound = [&] {
      mount->event("onLoadError code=404 url=" + server_.origin() + "/" + server_.token + "/" + rest);
      refuse(req, http::status::not_found);
    };
    if (!safeRelativePath(file)) return notFound();

    std::error_code fec;
    const auto root = std::filesystem::canonical(mount->dir, fec);
    if (fec) return notFound();
    const auto path = std::filesystem::canonical(root / file, fec);
    if (fec) return notFound();
    // Symbolic links must not lead outside the folder either.
    const auto rel = path.lexically_relative(root);
    if (rel.empty() || *rel.begin() == "..") return notFound();
    if (!std::filesystem::is_regular_file(path, fec)) return notFound();
    const auto size = std::filesystem::file_size(path, fec);
    if (fec || size > kMaxFileBytes) return notFound();
    std::ifstream in(path, std::ios::binary);
    std::string body(size, '\0');
    if (!in.read(body.data(), static_cast<std::streamsize>(size))) return notFound();
    if (path.extension() == ".html") {
      body = injectScript(std::move(body), server_.transport);
      mount->event("onLoadingState isLoading=1");
    }
    reply(req, http::status::ok, std::move(body), contentType(path));
  }

  void upgrade(Request req, const std::string& rest, bool hasOrigin) {
    // Browsers always send Origin with a WebSocket; its absence means a
    // non-browser client, which is fine, but a foreign one was refused above.
    (void)hasOrigin;
    if (rest.rfind("ws/", 0) != 0) return refuse(req, http::status::not_found);
    auto mount = server_.mount(rest.substr(3));
    if (!mount || req.method() != http::verb::get) return refuse(req, http::status::not_found);
    const std::string key(req[http::field::sec_websocket_key]);
    if (key.empty() || req[http::field::sec_websocket_version] != "13") return refuse(req, http::status::bad_request);

    auto res = std::make_shared<http::response<http::empty_body>>(http::status::switching_protocols, 11);
    res->set(http::field::upgrade, "websocket");
    res->set(http::field::connection, "Upgrade");
    res->set(http::field::sec_websocket_accept, websocketAccept(key));
    http::async_write(stream_, *res, [self = shared_from_this(), res, mount](beast::error_code ec, std::size_t) {
      if (ec) return self->close();
      std::make_shared<WsSession>(std::move(self->stream_), mount, std::move(self->buffer_))->start();
    });
  }

  beast::tcp_stream stream_;
  PaletteServer::Impl& server_;
  bool waiting_ = false;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

bool PaletteServer::Impl::closeOldestIdle() {
  for (auto it = httpSessions.begin(); it != httpSessions.end(); ++it) {
    if (auto s = it->lock(); s && s->idle()) {
      s->close();
      httpSessions.erase(it);
      return true;
    }
  }
  return false;
}

void PaletteServer::Impl::acceptLater() {
  if (!acceptPause) acceptPause = std::make_unique<asio::steady_timer>(ioc);
  acceptPause->expires_after(kAcceptBackoff);
  acceptPause->async_wait([this](beast::error_code ec) {
    if (!ec) accept();
  });
}

void PaletteServer::Impl::accept() {
  acceptor->async_accept(ioc, [this](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    std::erase_if(httpSessions, [](const std::weak_ptr<HttpSession>& w) { return w.expired(); });
    if (ec) {
      // Out of descriptors (or another passing failure): retry at once only when an idle
      // connection gave one back; retrying without would spin.
      if (closeOldestIdle()) return accept();
      return acceptLater();
    }
    if (httpSessions.size() >= kMaxHttpConnections) closeOldestIdle();
    auto session = std::make_shared<HttpSession>(std::move(socket), *this);
    httpSessions.push_back(session);
    session->start();
    accept();
  });
}

// ---------------------------------------------------------------------------

PaletteServer::PaletteServer(std::string transportScript) : impl_(std::make_unique<Impl>()) {
  impl_->transport = std::move(transportScript);
}

PaletteServer::~PaletteServer() { stop(); }

void PaletteServer::addMount(const std::string& name, const std::filesystem::path& dir,
                             std::function<bool(const std::string&)> direct) {
  auto m = std::make_shared<Mount>();
  m->name = name;
  m->dir = dir;
  m->direct = std::move(direct);
  impl_->mounts[name] = std::move(m);
}

void PaletteServer::setEventLog(const std::string& mount, std::function<void(const std::string&)> log) {
  if (auto m = impl_->mount(mount)) m->eventLog = std::move(log);
}

void PaletteServer::setContentSecurityPolicy(std::string policy) { impl_->contentSecurityPolicy = std::move(policy); }

std::string PaletteServer::start(std::uint16_t port) {
  impl_->token = hexToken();
  if (impl_->token.size() != 32) return "no random source for the access token";
  try {
    impl_->acceptor = std::make_unique<tcp::acceptor>(impl_->ioc);
    const tcp::endpoint ep(asio::ip::make_address("127.0.0.1"), port);
    impl_->acceptor->open(ep.protocol());
    impl_->acceptor->set_option(asio::socket_base::reuse_address(true));
    impl_->acceptor->bind(ep);
    impl_->acceptor->listen();
    impl_->port = impl_->acceptor->local_endpoint().port();
  } catch (const std::exception& e) {
    impl_->acceptor.reset();
    return std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + ": " + e.what();
  }
  impl_->accept();
  impl_->running = true;
  impl_->thread = std::thread([this] {
    for (;;) {
      try {
        impl_->ioc.run();
        return;
      } catch (const std::exception&) {
        // A failing handler drops its connection only.
      }
    }
  });
  return {};
}

void PaletteServer::stop() {
  if (!impl_->running) return;
  impl_->running = false;
  impl_->ioc.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
  impl_->acceptor.reset();
}

std::uint16_t PaletteServer::port() const { return impl_->port; }
const std::string& PaletteServer::token() const { return impl_->token; }
std::string PaletteServer::origin() const { return impl_->origin(); }

std::string PaletteServer::pageUrl(const std::string& mount, const std::string& file) const {
  return origin() + "/" + impl_->token + "/" + mount + "/" + file;
}

void PaletteServer::attach(const std::string& mount, Bridge& bridge) {
  auto m = impl_->mount(mount);
  if (!m) return;
  m->bridge = &bridge;
  bridge.setSender([this, mount](const std::string& text) { sendText(mount, text); });
}

void PaletteServer::detach(const std::string& mount) {
  if (auto m = impl_->mount(mount)) m->bridge = nullptr;
}

void PaletteServer::sendText(const std::string& mount, const std::string& text) {
  auto m = impl_->mount(mount);
  if (!m) return;
  asio::post(impl_->ioc, [m, text] {
    if (auto s = m->live.lock()) s->sendText(text);
  });
}

bool PaletteServer::connected(const std::string& mount) const {
  auto m = impl_->mount(mount);
  return m && m->connected.load();
}

std::uint64_t PaletteServer::connectionNumber(const std::string& mount) const {
  auto m = impl_->mount(mount);
  return m ? m->connections.load() : 0;
}

}  // namespace veldra::app
