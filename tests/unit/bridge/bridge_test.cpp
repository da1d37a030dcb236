#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/Bridge.h"

namespace veldra {
namespace {

using nlohmann::json;

struct BridgeFixture : ::testing::Test {
  Bridge bridge;
  std::vector<std::string> sent;
  void SetUp() override {
    bridge.setSender([this](const std::string& t) { sent.push_back(t); });
  }
  json last() const { return json::parse(sent.back()); }
};

TEST_F(BridgeFixture, MalformedOrUntypedMessagesGetTheJsonError) {
  for (const char* text : {"", "not json", "[1,2]", "{\"type\":5}", "{\"x\":1}", "{\"type\":null}", "42",
                           "{\"type\":\"a\",}", "{\"type\":\"a\" /* c */}", "{\"type\":\"x\",\"s\":\"\xC3\x28\"}"}) {
    sent.clear();
    bridge.handleMessage(text);
    ASSERT_EQ(sent.size(), 1u) << text;
    EXPECT_EQ(last(), (json{{"type", "error"}, {"msg", "Nieprawidlowa wiadomosc z UI (JSON)"}})) << text;
  }
}

TEST_F(BridgeFixture, HandlerExceptionsBecomeInternalErrors) {
  bridge.on("boom", [](const json&) -> json { throw std::runtime_error("kaput"); });
  bridge.handleMessage(R"({"type":"boom"})");
  EXPECT_EQ(last()["msg"], "Blad wewnetrzny: kaput");
}

TEST_F(BridgeFixture, RepliesDefaultToResultTypeAndNullSendsNothing) {
  bridge.on("q", [](const json&) { return json{{"a", 1}}; });
  bridge.on("quiet", [](const json&) { return json(nullptr); });
  bridge.on("own", [](const json&) { return json{{"type", "pong"}}; });
  bridge.handleMessage(R"({"type":"quiet"})");
  EXPECT_TRUE(sent.empty());
  bridge.handleMessage(R"({"type":"q"})");
  EXPECT_EQ(sent.back(), R"({"a":1,"type":"qResult"})");
  bridge.handleMessage(R"({"type":"own"})");
  EXPECT_EQ(sent.back(), R"({"type":"pong"})");
}

TEST_F(BridgeFixture, InvalidUtf8InOutgoingTextThrowsButHandlersCannotKillTheProcess) {
  EXPECT_THROW(bridge.send("x", json{{"s", std::string("\xFF")}}), json::type_error);
  bridge.on("bad", [](const json&) { return json{{"type", "r"}, {"s", std::string("\xFF\xFE")}}; });
  bridge.handleMessage(R"({"type":"bad"})");
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(last()["type"], "error");
  EXPECT_EQ(last()["msg"].get<std::string>().rfind("Blad wewnetrzny: ", 0), 0u);
}

}  // namespace
}  // namespace veldra
