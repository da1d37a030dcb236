#include <gtest/gtest.h>

#include "net/Endpoints.h"

namespace veldra::endpoints {
namespace {

TEST(Endpoints, EveryServiceHasAnHttpsAddressOnAKnownHost) {
  for (int i = 0; i <= static_cast<int>(Service::BasemapStyleBright); ++i) {
    const std::string& u = url(static_cast<Service>(i));
    ASSERT_EQ(u.rfind("https://", 0), 0u) << i;
    bool known = false;
    for (const auto& h : publicHosts()) known = known || u.rfind(h.origin, 0) == 0;
    EXPECT_TRUE(known) << u;  // so that a loopback table covers every service
  }
}

TEST(Endpoints, FirstMatchingPrefixWins) {
  auto t = parseRewriteTable(R"({"rewrite": [["https://a.example/x", "http://127.0.0.1:1/one"],
                                              ["https://a.example", "http://127.0.0.1:1/two"]]})");
  ASSERT_EQ(t.error, "");
  EXPECT_EQ(applyRewrite(t, "https://a.example/x/y?q=1").url, "http://127.0.0.1:1/one/y?q=1");
  EXPECT_EQ(applyRewrite(t, "https://a.example/z").url, "http://127.0.0.1:1/two/z");
  EXPECT_EQ(applyRewrite(t, "https://b.example/z").url, "https://b.example/z");  // not strict: untouched
}

TEST(Endpoints, BadFilesAreErrorsNeverIgnored) {
  for (const char* text : {"", "[]", "{\"rewrite\": {}}", "{\"rewrite\": [[\"a\", 1]]}",
                           "{\"rewrite\": [[\"\", \"http://x\"]]}", "{\"rewrite\": [[\"a\",\"b\",\"c\"]]}",
                           "{\"strict\": \"yes\"}", "{\"rewrite\": [[\"a\", \"b\"]"}) {
    auto t = parseRewriteTable(text);
    EXPECT_NE(t.error, "") << text;
    EXPECT_NE(applyRewrite(t, "https://a/x").error, "") << text;
  }
  auto missing = loadRewriteTable("/nonexistent/endpoints.json");
  EXPECT_NE(missing.error.find("/nonexistent/endpoints.json"), std::string::npos);
  EXPECT_EQ(parseRewriteTable("{}").error, "");
}

}  // namespace
}  // namespace veldra::endpoints
