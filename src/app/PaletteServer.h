// Loopback HTTP + WebSocket server standing in for the host's browser control.
//
// Every address carries a random 128-bit token as its first path segment
// (http://127.0.0.1:PORT/TOKEN/<mount>/<file>), so relative page resources
// carry it too. Each mount serves the files of one folder and has at most one
// live WebSocket (TOKEN/ws/<mount>) that carries its Bridge's texts; a newer
// socket takes the mount over and the older page is told to close. Incoming
// texts run on platform::MainLoop; outgoing texts may be sent from the main
// thread only, as with the real browser control.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace veldra {
class Bridge;
}

namespace veldra::app {

class PaletteServer {
 public:
  // Largest text a page may send; longer ones are answered as malformed.
  static constexpr std::size_t kMaxMessageBytes = 1u << 20;

  // `transportScript` is placed at the top of every HTML page served.
  explicit PaletteServer(std::string transportScript);
  ~PaletteServer();
  PaletteServer(const PaletteServer&) = delete;
  PaletteServer& operator=(const PaletteServer&) = delete;

  // Before start(): a mount serving `dir`. `direct`, when set, sees every
  // incoming text on the network thread first and may consume it (answers to
  // modal alerts, which arrive while the main thread waits).
  void addMount(const std::string& name, const std::filesystem::path& dir,
                std::function<bool(const std::string&)> direct = {});

  // Before start(): receives the browser events of a mount's pages on the
  // network thread: "onLoadingState isLoading=1" when a page is served,
  // "onLoadingState isLoading=0" when its socket opens, and
  // "onLoadError code=N url=ADDRESS" when one of its files cannot be served.
  void setEventLog(const std::string& mount, std::function<void(const std::string&)> log);

  // Before start(): a Content-Security-Policy sent with every answer (none by default).
  void setContentSecurityPolicy(std::string policy);

  // Binds 127.0.0.1:`port` (0: any free port) and starts serving. Gives an
  // empty text or the reason.
  std::string start(std::uint16_t port);
  void stop();

  std::uint16_t port() const;
  const std::string& token() const;
  std::string origin() const;
  std::string pageUrl(const std::string& mount, const std::string& file) const;

  // Main thread. Routes the mount's incoming texts to `bridge` and installs
  // the bridge's sender; detach() before the bridge goes away.
  void attach(const std::string& mount, Bridge& bridge);
  void detach(const std::string& mount);
  // Main thread or any: sends a text to the mount's live socket, if any.
  void sendText(const std::string& mount, const std::string& text);
  // Whether a page is connected on the mount (any thread; a snapshot).
  bool connected(const std::string& mount) const;
  // How many pages have connected on the mount so far: a new number means a
  // new page took over (any thread).
  std::uint64_t connectionNumber(const std::string& mount) const;

  // Network side, defined in the .cpp (public so its session classes can use it).
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace veldra::app
