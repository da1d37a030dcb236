// The way from native code to one palette's page. The palette attaches its
// Bridge while it exists; a message sent while no page is attached is
// dropped. Main thread only: workers wrap their messages in runOnMainThread.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace veldra {

class Bridge;

class PageChannel {
 public:
  void attach(Bridge* bridge) { bridge_ = bridge; }
  void detach() { bridge_ = nullptr; }
  bool attached() const { return bridge_ != nullptr; }

  // Sends `payload` with its type; nothing when no page is attached.
  void post(const std::string& type, const nlohmann::json& payload) const;

 private:
  Bridge* bridge_ = nullptr;
};

}  // namespace veldra
