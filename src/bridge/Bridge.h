// Native end of the page <-> native JSON message channel of one palette.
#pragma once

#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace veldra {

using MessageHandler = std::function<nlohmann::json(const nlohmann::json& message)>;

class Bridge {
 public:
  using Sender = std::function<void(const std::string& text)>;

  // Stores `handler` under `type`; a later registration replaces it.
  void on(const std::string& type, MessageHandler handler);
  void setSender(Sender sender);
  void clearSender();
  bool hasHandler(const std::string& type) const;

  // Entry point for every text the page posts. Never throws.
  void handleMessage(const std::string& text);

  // Sets payload.type, serialises compactly as pure ASCII and hands the text to
  // the sender. Throws nlohmann::json::type_error when a string is not valid
  // UTF-8. Without a sender the message is dropped.
  void send(const std::string& type, nlohmann::json payload);

  // The compact, pure-ASCII form of a message (strict UTF-8).
  static std::string serialize(const nlohmann::json& message);

 private:
  void sendError(const std::string& msg);

  std::map<std::string, MessageHandler> handlers_;
  Sender sender_;
};

}  // namespace veldra
