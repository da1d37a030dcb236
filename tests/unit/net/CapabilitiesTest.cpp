#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/Capabilities.h"
#include "net/OgcClient.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

using testing::readSample;
using Strings = std::vector<std::string>;

TEST(ReadCapabilities, WfsFeatureTypesWithTheirSystems) {
  Capabilities c = readCapabilities(R"(<?xml version="1.0"?>
    <wfs:WFS_Capabilities xmlns:wfs="http://www.opengis.net/wfs/2.0" version="2.0.0">
      <ows:ServiceIdentification xmlns:ows="o"><ows:Title>EGiB</ows:Title></ows:ServiceIdentification>
      <FeatureTypeList>
        <FeatureType><Name> ms:dzialki </Name><Title>Dzialki</Title>
          <DefaultCRS>urn:ogc:def:crs:EPSG::2180</DefaultCRS><OtherCRS>urn:ogc:def:crs:EPSG::2177</OtherCRS>
          <OtherCRS>urn:ogc:def:crs:EPSG::2180</OtherCRS></FeatureType>
        <wfs:FeatureType><wfs:Name><![CDATA[ms:budynki]]></wfs:Name><wfs:DefaultSRS>EPSG:2180</wfs:DefaultSRS></wfs:FeatureType>
      </FeatureTypeList>
    </wfs:WFS_Capabilities>)");
  EXPECT_EQ(c.kind, Capabilities::Kind::Wfs);
  EXPECT_EQ(c.version, "2.0.0");
  ASSERT_EQ(c.layers.size(), 2u);
  EXPECT_EQ(c.layers[0].name, "ms:dzialki");
  EXPECT_EQ(c.layers[0].title, "Dzialki");
  EXPECT_EQ(c.layers[0].crs, (Strings{"urn:ogc:def:crs:EPSG::2180", "urn:ogc:def:crs:EPSG::2177"}));
  EXPECT_EQ(c.layers[1].crs, (Strings{"EPSG:2180"}));
  EXPECT_EQ(findLayer(c, "ms:budynki"), &c.layers[1]);
  EXPECT_EQ(findLayer(c, "budynki"), nullptr);
}

TEST(ReadCapabilities, WmsLayersInheritTheSystemsOfEnclosingLayers) {
  Capabilities c = readCapabilities(R"(<WMT_MS_Capabilities version="1.1.1"><Service><Name>OGC:WMS</Name></Service>
    <Capability><Layer><Title>root</Title><SRS>EPSG:2180 EPSG:4326</SRS>
      <Layer><Name>a</Name><SRS>EPSG:2177</SRS><Layer><Name>a1</Name></Layer></Layer>
      <Layer><Title>group without name</Title><SRS>EPSG:2178</SRS><Layer><Name>b1</Name></Layer></Layer>
      <Layer><Name>c</Name><SRS>EPSG:2180</SRS></Layer>
    </Layer></Capability></WMT_MS_Capabilities>)");
  EXPECT_EQ(c.kind, Capabilities::Kind::Wms);
  ASSERT_EQ(c.layers.size(), 4u);
  EXPECT_EQ(c.layers[0].name, "a");
  EXPECT_EQ(c.layers[0].crs, (Strings{"EPSG:2180", "EPSG:4326", "EPSG:2177"}));
  EXPECT_EQ(c.layers[1].name, "a1");
  EXPECT_EQ(c.layers[1].crs, (Strings{"EPSG:2180", "EPSG:4326", "EPSG:2177"}));
  EXPECT_EQ(c.layers[2].name, "b1");
  EXPECT_EQ(c.layers[2].crs, (Strings{"EPSG:2180", "EPSG:4326", "EPSG:2178"}));
  EXPECT_EQ(c.layers[3].crs, (Strings{"EPSG:2180", "EPSG:4326"}));
}

TEST(ReadCapabilities, ExceptionReportsAndOtherDocuments) {
  Capabilities e = readCapabilities(
      R"(<ows:ExceptionReport xmlns:ows="o" version="2.0.0"><ows:Exception exceptionCode="InvalidParameterValue">
         <ows:ExceptionText>Unknown typename</ows:ExceptionText></ows:Exception>
         <ows:Exception><ows:ExceptionText>second</ows:ExceptionText></ows:Exception></ows:ExceptionReport>)");
  EXPECT_EQ(e.kind, Capabilities::Kind::ExceptionReport);
  EXPECT_EQ(e.message, "Unknown typename; second");
  Capabilities s = readCapabilities(
      R"(<ServiceExceptionReport version="1.1.1"><ServiceException code="LayerNotDefined"/></ServiceExceptionReport>)");
  EXPECT_EQ(s.kind, Capabilities::Kind::ExceptionReport);
  EXPECT_EQ(s.message, "LayerNotDefined");

  EXPECT_EQ(readCapabilities("<html><body>502</body></html>").kind, Capabilities::Kind::Other);
  Capabilities bad = readCapabilities("<WFS_Capabilities><FeatureType>");
  EXPECT_EQ(bad.kind, Capabilities::Kind::XmlError);
  EXPECT_FALSE(bad.message.empty());
  EXPECT_EQ(readCapabilities("").kind, Capabilities::Kind::XmlError);
}

TEST(ReadCapabilities, DeepNestingIsCutOffNotFollowed) {
  std::string deep = "<WMS_Capabilities>";
  for (int i = 0; i < 100000; ++i) deep += "<Layer><Name>n</Name>";
  for (int i = 0; i < 100000; ++i) deep += "</Layer>";
  deep += "</WMS_Capabilities>";
  Capabilities c = readCapabilities(deep);
  EXPECT_EQ(c.kind, Capabilities::Kind::Wms);
  EXPECT_EQ(c.layers.size(), static_cast<std::size_t>(kCapabilitiesMaxDepth));
}

TEST(RecordedCapabilities, NationalUtilitiesWms) {
  std::string text = readSample("wms_caps/kiut_getcapabilities_trimmed_2026-09-02.xml");
  if (text.empty()) GTEST_SKIP() << "recorded capabilities missing under " << VELDRA_SHARED_DATA;
  Capabilities c = readCapabilities(text);
  ASSERT_EQ(c.layers.size(), 10u);
  for (const auto& l : c.layers) EXPECT_EQ(l.crs, (Strings{"EPSG:2180", "EPSG:3857"})) << l.name;
  EXPECT_EQ(wmsLayerChoice(text, DataType::Gesut).size(), 10u);
  // "komunikac" is a base-map word, and it sits inside "telekomunikacyjny".
  EXPECT_EQ(wmsLayerChoice(text, DataType::Bdot500), (Strings{"przewod_telekomunikacyjny"}));
}

}  // namespace
}  // namespace veldra
