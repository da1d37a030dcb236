// Reading member by member must give exactly what one tree of the whole document gives, and
// whatever the scan declines must still be read by the whole-document path.
#include "formats/GmlParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>


namespace veldra {
namespace {

bool samePoints(const std::vector<Point2>& a, const std::vector<Point2>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].x != b[i].x || a[i].y != b[i].y) return false;
  return true;
}

void expectSame(const std::vector<GisFeature>& a, const std::vector<GisFeature>& b, const std::string& what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (std::size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(what + " feature " + std::to_string(i));
    EXPECT_EQ(a[i].attributes, b[i].attributes);
    EXPECT_EQ(a[i].hasPoint, b[i].hasPoint);
    EXPECT_EQ(a[i].point.x, b[i].point.x);
    EXPECT_EQ(a[i].point.y, b[i].point.y);
    ASSERT_EQ(a[i].polygons.size(), b[i].polygons.size());
    for (std::size_t p = 0; p < a[i].polygons.size(); ++p) {
      EXPECT_TRUE(samePoints(a[i].polygons[p].outer, b[i].polygons[p].outer));
      ASSERT_EQ(a[i].polygons[p].holes.size(), b[i].polygons[p].holes.size());
      for (std::size_t h = 0; h < a[i].polygons[p].holes.size(); ++h)
        EXPECT_TRUE(samePoints(a[i].polygons[p].holes[h], b[i].polygons[p].holes[h]));
    }
    ASSERT_EQ(a[i].lines.size(), b[i].lines.size());
    for (std::size_t l = 0; l < a[i].lines.size(); ++l) EXPECT_TRUE(samePoints(a[i].lines[l], b[i].lines[l]));
  }
}

void expectPathsAgree(const std::string& doc, const std::string& what) {
  const auto members = GmlParser::parseFeatureCollection(doc, DataType::Budynki);
  const auto defaultAfter = GmlParser::threadDefaultEpsg();
  const auto whole = GmlParser::parseFeatureCollectionWholeDocument(doc, DataType::Budynki);
  EXPECT_EQ(defaultAfter, GmlParser::threadDefaultEpsg()) << what;
  expectSame(members, whole, what);
}

const char* kPoint = "<ms:g><gml:Point><gml:pos>5800000 6500000</gml:pos></gml:Point></ms:g>";

std::string member(const std::string& inner, const std::string& tag = "wfs:member") {
  return "<" + tag + "><ms:f><ms:a>1</ms:a>" + inner + "</ms:f></" + tag + ">";
}

TEST(GmlMemberScan, AgreesWithWholeDocument) {
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::vector<std::pair<std::string, std::string>> docs = {
      {"srs on root", head + "<wfs:FeatureCollection srsName=\"EPSG:2177\">" + member(kPoint) + "</wfs:FeatureCollection>"},
      {"srs on a wrapper", "<c><w srsName='urn:ogc:def:crs:EPSG::2177'>" + member(kPoint) + "</w>" + member(kPoint) + "</c>"},
      {"default from first srs", "<c><e srsName=\"EPSG:2177\"/>" + member(kPoint) + "</c>"},
      {"default 2180 does not swap", "<c><e srsName=\"EPSG:2180\"/>" + member(kPoint) + "</c>"},
      {"nested members", "<c>" + member(member(kPoint, "member") + kPoint, "gml:featureMember") + "</c>"},
      {"self-closing member", "<c><wfs:member/>" + member(kPoint) + "</c>"},
      {"comments and CDATA", "<!-- a --><c><!-- <wfs:member> -->" + member("<ms:t><![CDATA[</ms:f>]]></ms:t>" + std::string(kPoint)) + "</c><!-- z -->"},
      {"entity in srsName", "<c srsName=\"EPSG&#58;2177\">" + member(kPoint) + "</c>"},
      {"DOCTYPE", "<!DOCTYPE c><c>" + member(kPoint) + "</c>"},
      {"processing instruction", "<c><?pi x?>" + member(kPoint) + "</c>"},
      {"latin-2 declared", "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?><c>" + member(kPoint) + "</c>"},
      {"UTF-8 BOM", "\xEF\xBB\xBF<c>" + member(kPoint) + "</c>"},
      {"attributes odd but valid", "<c  a = 'x' b=\"y\" >" + member(kPoint) + "</c >"},
      {"vertical tab between attributes", "<c a='1'\v b='2'>" + member(kPoint) + "</c>"},
      {"second root", "<c>" + member(kPoint) + "</c><d/>"},
      {"text after root", "<c>" + member(kPoint) + "</c>junk"},
      {"mismatched end", "<c>" + member(kPoint) + "</d>"},
      {"unclosed", "<c>" + member(kPoint)},
      {"broken member", "<c><wfs:member><ms:f><ms:a>1</ms:b></ms:f></wfs:member></c>"},
      {"attribute without quotes", "<c a=1>" + member(kPoint) + "</c>"},
      {"lt in attribute", "<c a='<'>" + member(kPoint) + "</c>"},
      {"NUL byte", std::string("<c>") + member(kPoint) + std::string(1, '\0') + "</c>"},
      {"empty", ""},
  };
  for (const auto& [what, doc] : docs) expectPathsAgree(doc, what);
}

}  // namespace
}  // namespace veldra
