// Small GML builders for the OGC client tests, and a private cache folder.
#pragma once

#include <string>

#include "unit/net/NetTestSupport.h"

namespace veldra::testing {


// One WFS 2.0 building polygon (EPSG 2180, northing first) as a member.
inline std::string memberSquare(const std::string& id, double x, double y, double size = 10) {
  auto n = [](double v) { return std::to_string(v); };
  std::string pos = n(y) + " " + n(x) + " " + n(y) + " " + n(x + size) + " " + n(y + size) + " " + n(x + size) +
                    " " + n(y + size) + " " + n(x) + " " + n(y) + " " + n(x);
  return "<wfs:member><ms:budynki gml:id=\"" + id + "\"><ms:ID>" + id +
         "</ms:ID><ms:geom><gml:Polygon srsName=\"urn:ogc:def:crs:EPSG::2180\"><gml:exterior><gml:LinearRing>"
         "<gml:posList>" + pos + "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></ms:geom>"
         "</ms:budynki></wfs:member>";
}

inline std::string collection(const std::string& members) {
  return "<?xml version='1.0' encoding=\"UTF-8\" ?>\n"
         "<wfs:FeatureCollection xmlns:ms=\"http://mapserver.gis.umn.edu/mapserver\" "
         "xmlns:gml=\"http://www.opengis.net/gml/3.2\" xmlns:wfs=\"http://www.opengis.net/wfs/2.0\">\n" +
         members + "\n</wfs:FeatureCollection>\n";
}

inline std::string emptyCollection() {
  return "<?xml version=\"1.0\"?><wfs:FeatureCollection xmlns:wfs=\"http://www.opengis.net/wfs/2.0\" "
         "numberMatched=\"0\" numberReturned=\"0\"/>";
}

inline std::string exceptionReport() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ows:ExceptionReport xmlns:ows=\"http://www.opengis.net/ows/1.1\" "
         "version=\"2.0.0\"><ows:Exception exceptionCode=\"NoApplicableCode\"><ows:ExceptionText>msPostGISLayerOpen(): "
         "Database connection failed</ows:ExceptionText></ows:Exception></ows:ExceptionReport>";
}

// Cache folder of its own for each test; no host spacing.
class OgcTest : public ScriptedNetTest {
 protected:
  CacheFolder cacheFolder;
};

}  // namespace veldra::testing
