// Placement of fetched data into the project: the "Import GIS" command, the
// element builders and the per-kind placement of vector features, zoning
// plans, pictures, terrain meshes and contours.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/CityGml.h"
#include "formats/DataType.h"
#include "formats/GisFeature.h"
#include "formats/RasterTile.h"
#include "geo/Bbox.h"
#include "geo/Projections.h"
#include "hostapi/Host.h"
#include "place/FetchedData.h"
#include "place/ProjectGeoref.h"
#include "terrain/Contours.h"
#include "terrain/TerrainPatches.h"

namespace veldra {

struct Rgb {
  int r = 0, g = 0, b = 0;   // 0..255
};

// Everything one import places, already in the project's PL-2000 zone (made by
// moveToZone of place/DataKinds.h). Corners are (minX,minY), (maxX,minY), (maxX,maxY), (minX,maxY).
struct PlacementData {
  std::vector<GisFeature> features;
  std::vector<RasterTile> rasters;   // boxes stay in their own system
  struct Patch {
    std::vector<Point3> points;
    std::array<Point2, 4> corners;
  };
  std::vector<Patch> terrain;
  std::vector<Contour> contours;
  std::vector<ContourLabel> contourLabels;
  std::vector<Patch> cloudTerrain;
  std::vector<Patch> cloudWater;
  std::vector<Contour> cloudContours;
  std::vector<ContourLabel> cloudContourLabels;
  std::vector<Building3D> buildings3d;   // only when they are to be placed
  std::vector<BuildingLod2> buildingsLod2;
  std::vector<NdsmSolid> ndsmBuildings;   // faces moved in plan, heights absolute
  std::vector<NdsmSolid> bridges;
  std::vector<NdsmSolid> roads;
  std::vector<CloudSolid> cloudRoofs;      // faces moved in plan, heights absolute
  std::vector<CloudSolid> reconstructed;
  std::array<Point2, 4> frameCorners{};
  int droppedGeometries = 0;   // parts left out because a coordinate was not finite
};

struct PlacementResult {
  std::map<std::string, int> counts;
  int failures = 0;
  std::string error;   // non-empty: the whole import must be undone
  std::vector<std::string> notices;
  bool hasBox = false;
  double minX = 0, minY = 0, maxX = 0, maxY = 0;
};

// Angle brought into (-pi/2, pi/2], as text angles are drawn.
double halfTurn(double a);

// A designation's general-plan colour, or none.
std::optional<Rgb> zoneColour(const std::string& designation);

// Parcel label text from the attributes, empty when none fits.
std::string parcelLabel(const std::map<std::string, std::string>& attributes);

// Two Chaikin passes, then vertices closer than 0.05 m to their neighbours'
// chord are dropped (lines under 3 points are returned as they are).
std::vector<Point2> smoothContourLine(const std::vector<Point2>& pts);

class Placer {
 public:
  // `layerName` gives the user's layer name for a type (may be empty: the
  // catalogue default is used then).
  Placer(Host& host, const ProjectGeoref& georef, int zone, std::function<std::string(DataType)> layerName);

  // Layer index for a type, created when missing; 0 when it cannot be had.
  int layerFor(DataType type);
  // Layer index for a fixed layer name, created when missing; 0 when it cannot be had.
  int layerNamed(const std::string& name);

  // Element builders: host code; 0 and nothing created for too little geometry.
  HostErr polyline(int layer, int pen, const std::vector<Point2>& localPts, bool closed);
  HostErr fill(int layer, int pen, const std::vector<std::vector<Point2>>& localRings, const std::optional<Rgb>& colour,
               int fillType = 0);
  HostErr text(int layer, int pen, const std::string& utf8, Point2 local, double size, double angle);
  HostErr createPicture(const RasterTile& raster, int layer);
  HostErr createMesh(const PlacementData::Patch& patch, double zOffset, int layer);
  HostErr createMeshFromContours(const std::vector<Contour>& contours, double zOffset, int layer,
                                 const std::array<Point2, 4>& corners);

  // Vector step; fills counts/failures/box, sets the error on a layer failure.
  void placeFeatures(const std::vector<GisFeature>& features, PlacementResult& out);
  // First solid fill type; the fill type for a hatch hint.
  int solidFillType();
  int hatchFillType(const std::string& hint);

  Point2 local(Point2 p) const { return toLocal(georef_, p.x, p.y); }
  const ProjectGeoref& georef() const { return georef_; }
  Host& host() { return host_; }
  // Whether the last createMesh / createMeshFromContours made an element.
  bool lastMeshCreated() const { return lastMeshCreated_; }

 private:
  // Local points of a zone ring; widens the box.
  std::vector<Point2> vectorRing(const std::vector<Point2>& pts, PlacementResult& out);
  // An element of the type with the host's defaults, on the layer.
  HostErr startElement(ElementType type, int layer, Element& e);
  HostErr startMesh(int layer, Element& e, Memo& m);
  HostErr placeFeature(const GisFeature& f, int layer, PlacementResult& out);
  HostErr placeZone(const GisFeature& f, int layer, PlacementResult& out);

  Host& host_;
  ProjectGeoref georef_;
  int zone_;
  std::function<std::string(DataType)> layerName_;
  std::map<int, int> layerCache_;
  std::map<std::string, int> namedLayers_;
  std::optional<int> solidFill_;
  std::map<std::string, int> hatchCache_;
  bool lastMeshCreated_ = false;
};

struct ImportOptions {
  double terrainZOffset = 0.0;
  double buildingZOffset = 0.0;   // height reference of every solid
  bool smoothContours = false;
  bool contours2d = true;
  bool contours3d = true;
  std::string title = "Import GIS";
};

// Runs the whole placement as one undoable command: every kind of data in the
// order of dataKinds() (place/DataKinds.h).
struct ImportOutcome {
  HostErr code = kHostOk;
  PlacementResult result;
  bool failed() const { return code != kHostOk || !result.error.empty(); }
};
ImportOutcome runImport(Host& host, const ProjectGeoref& georef, int zone, const PlacementData& data,
                        const ImportOptions& options, std::function<std::string(DataType)> layerName);

}  // namespace veldra
