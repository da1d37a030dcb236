// Reading member by member must give exactly what one tree of the whole document gives, and
// whatever the scan declines must still be read by the whole-document path.
#include "formats/GmlParser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace veldra {
namespace {

// The documents below hold points only: a feature is its attributes and point, and no other
// geometry may appear on either path.
auto contents(const GisFeature& f) {
  return std::tuple(f.attributes, f.hasPoint, f.point.x, f.point.y, f.polygons.size(), f.lines.size());
}

void expectPathsAgree(const std::string& doc, const std::string& what) {
  const auto members = GmlParser::parseFeatureCollection(doc, DataType::Budynki);
  const auto defaultAfter = GmlParser::threadDefaultEpsg();
  const auto whole = GmlParser::parseFeatureCollectionWholeDocument(doc, DataType::Budynki);
  EXPECT_EQ(defaultAfter, GmlParser::threadDefaultEpsg()) << what;
  ASSERT_EQ(members.size(), whole.size()) << what;
  for (std::size_t i = 0; i < members.size(); ++i)
    EXPECT_EQ(contents(members[i]), contents(whole[i])) << what << " feature " << i;
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
