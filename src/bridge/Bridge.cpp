#include "bridge/Bridge.h"

#include <exception>
#include <iostream>
#include <utility>

namespace veldra {

using nlohmann::json;

void Bridge::on(const std::string& type, MessageHandler handler) { handlers_[type] = std::move(handler); }

void Bridge::setSender(Sender sender) { sender_ = std::move(sender); }

void Bridge::clearSender() { sender_ = nullptr; }

bool Bridge::hasHandler(const std::string& type) const { return handlers_.count(type) != 0; }

std::string Bridge::serialize(const json& message) {
  return message.dump(-1, ' ', /*ensure_ascii=*/true, json::error_handler_t::strict);
}

void Bridge::send(const std::string& type, json payload) {
  if (!payload.is_object()) payload = json::object();
  payload["type"] = type;
  std::string text = serialize(payload);
  if (sender_) sender_(text);
}

void Bridge::sendError(const std::string& msg) {
  try {
    send("error", json{{"msg", msg}});
  } catch (const std::exception&) {
    // The message carried bytes that are not UTF-8 (for example a type name
    // taken from the page); fall back to a text that always serialises.
    send("error", json{{"msg", json(msg).dump(-1, ' ', true, json::error_handler_t::replace)}});
  }
}

void Bridge::handleMessage(const std::string& text) {
  json msg = json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
  if (msg.is_discarded() || !msg.is_object() || !msg.contains("type") || !msg["type"].is_string()) {
    sendError("Nieprawidlowa wiadomosc z UI (JSON)");
    return;
  }
  const std::string type = msg["type"].get<std::string>();
  auto it = handlers_.find(type);
  if (it == handlers_.end()) {
    sendError("Brak obslugi wiadomosci: " + type);
    return;
  }
  json reply;
  try {
    reply = it->second(msg);
  } catch (const std::exception& e) {
    sendError(std::string("Blad wewnetrzny: ") + e.what());
    return;
  }
  if (reply.is_null()) return;
  std::string replyType = type + "Result";
  if (reply.is_object() && reply.contains("type") && reply["type"].is_string())
    replyType = reply["type"].get<std::string>();
  try {
    send(replyType, std::move(reply));
  } catch (const std::exception& e) {
    // A reply that cannot be serialised must not take the process down.
    sendError(std::string("Blad wewnetrzny: ") + e.what());
  }
}

}  // namespace veldra
