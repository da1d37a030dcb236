#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/Capabilities.h"
#include "net/NationalCascades.h"
#include "net/WfsClient.h"
#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

using Strings = std::vector<std::string>;

using testing::readSample;
using testing::param;

using CascadeCapabilities = testing::ScriptedNetTest;

// Process-wide: this is the only test that asks for the cadastral cascade.
TEST_F(CascadeCapabilities, KeptOnceTheyAnsweredAsWms) {
  const std::string caps = R"(<WMS_Capabilities version="1.3.0"><Capability><Layer><Name>dzialki</Name></Layer>
                              </Capability></WMS_Capabilities>)";
  transport.script = {{200, "<ServiceExceptionReport/>", "", true}, {200, caps, "", true}};
  EXPECT_EQ(cascadeCapabilities(client, NationalCascade::Kieg), "");     // an exception report is not kept
  EXPECT_EQ(cascadeCapabilities(client, NationalCascade::Kieg), caps);
  EXPECT_EQ(cascadeCapabilities(client, NationalCascade::Kieg), caps);
  EXPECT_EQ(transport.calls.size(), 2u);
}

TEST(NationalCascades, RecordedUtilitiesCapabilitiesGiveTheNetworkLayersAtLargeScale) {
  const std::string text = readSample("wms_caps/kiut_getcapabilities_trimmed_2026-09-02.xml");
  if (text.empty()) GTEST_SKIP() << "recorded capabilities missing under " << VELDRA_SHARED_DATA;
  // The network layers, version and system at 0.28 m/px are the black-box cascade test's, against
  // the same recording; here finer and coarser densities.
  const Strings fine = planCascadeRequest(NationalCascade::Kiut, text, 0.28, 2178).layers;
  ASSERT_FALSE(fine.empty());
  EXPECT_EQ(planCascadeRequest(NationalCascade::Kiut, text, 0.14, 2178).layers, fine);
  EXPECT_TRUE(planCascadeRequest(NationalCascade::Kiut, text, 0.56, 2178).layers.empty());
  EXPECT_EQ(planCascadeRequest(NationalCascade::Kiut, text, 28.0, 2178).layers, Strings{"gesut"});
}

TEST(NationalCascades, ScaleLimitsAreInheritedFromEnclosingLayers) {
  const Capabilities caps = readCapabilities(R"(<WMS_Capabilities version="1.3.0"><Capability>
      <Layer><MaxScaleDenominator>5000</MaxScaleDenominator>
        <Layer><Name>inherits</Name></Layer>
        <Layer><Name>own</Name><MinScaleDenominator>500</MinScaleDenominator></Layer>
        <Layer><Name>wider</Name><MaxScaleDenominator>20000</MaxScaleDenominator></Layer>
      </Layer><Layer><Name>free</Name></Layer></Capability></WMS_Capabilities>)");
  struct Case {
    double scale;
    Strings drawn;
  } cases[] = {
      {250, {"inherits", "wider", "free"}},
      {500, {"inherits", "own", "wider", "free"}},
      {5000, {"inherits", "own", "wider", "free"}},
      {10000, {"wider", "free"}},
      {1e6, {"free"}},
  };
  for (const auto& c : cases) {
    Strings drawn;
    for (const auto& l : caps.layers)
      if (drawsAtScale(l, c.scale)) drawn.push_back(l.name);
    EXPECT_EQ(drawn, c.drawn) << c.scale;
  }
}

TEST(NationalCascades, GetMapBoxFollowsTheAxisOrderOfVersionAndSystem) {
  const double box[4] = {500000, 400000, 501000, 400500};   // easting first
  struct Case {
    WmsVersion version;
    int epsg;
    const char* systemKey;
    const char* bbox;
  } cases[] = {
      {WmsVersion::V130, 2180, "CRS", "400000%2C500000%2C400500%2C501000"},
      {WmsVersion::V130, 2178, "CRS", "400000%2C500000%2C400500%2C501000"},
      {WmsVersion::V130, 3857, "CRS", "500000%2C400000%2C501000%2C400500"},
      {WmsVersion::V111, 2180, "SRS", "500000%2C400000%2C501000%2C400500"},
  };
  for (const auto& c : cases) {
    const std::string url = buildGetMapUrl("http://wms.test/cgi?map=a", "x", box, 10, 5, c.epsg, c.version);
    EXPECT_EQ(param(url, "BBOX"), c.bbox) << c.epsg;
    EXPECT_EQ(param(url, c.systemKey), "EPSG%3A" + std::to_string(c.epsg)) << url;
    EXPECT_EQ(param(url, "version"), c.version == WmsVersion::V130 ? "1.3.0" : "1.1.1");
  }
}

}  // namespace
}  // namespace veldra
