// The kinds of fetched data, each described once: what "fetchDone" counts of
// it, whether it holds anything, how it moves into the project's zone and how
// it is placed. Counting, emptiness, the zone move and the "Import GIS"
// command all walk this one table, in its order (the placement order).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "geo/Bbox.h"
#include "geo/Projections.h"
#include "hostapi/Host.h"
#include "place/FetchedData.h"
#include "place/Placement.h"

namespace veldra {

// The frame's affine into one PL-2000 zone, and the checks every kind's move
// shares: a part holding a coordinate that is not finite is left out and counted.
class ZoneMove {
 public:
  ZoneMove(const Bbox& frame, int zone);
  Point2 operator()(Point2 p) const;
  // False (nothing written) when a point is not finite before or after the move.
  bool all(const std::vector<Point2>& pts, std::vector<Point2>& out) const;
  std::array<Point2, 4> corners(double minX, double minY, double maxX, double maxY) const;

 private:
  LocalAffine affine_;
};

struct DataKind {
  const char* name;
  // Adds this kind's entries to the counts of "fetchDone".
  void (*count)(const FetchedData& data, std::map<std::string, int>& counts);
  bool (*holdsData)(const FetchedData& data);
  // Copies this kind into `out`, moved into the zone.
  void (*move)(const FetchedData& data, const ZoneMove& mv, PlacementData& out);
  // Creates this kind's elements; a code other than kHostOk undoes the whole import.
  HostErr (*place)(Placer& placer, const PlacementData& data, const ImportOptions& options, PlacementResult& out);
};

const std::vector<DataKind>& dataKinds();

// Label -> number of entries, as "fetchDone" reports them.
std::map<std::string, int> fetchCounts(const FetchedData& data);
// Nothing to place in any kind.
bool holdsNothing(const FetchedData& data);
// Every kind moved into `zone` with one affine of the frame.
PlacementData moveToZone(const FetchedData& data, const Bbox& frame, int zone);

}  // namespace veldra
