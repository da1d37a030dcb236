// The national urban-planning registry: which planning acts a municipality has
// published, which one to import, and its spatial data.
#pragma once

#include <string>
#include <vector>

#include "formats/DataType.h"
#include "formats/GisFeature.h"

namespace veldra {

class WfsClient;

struct PlanAct {
  std::string publishedActId;
  std::string title;
  std::string planType;
  std::string spatialPlanningActStatus;
  std::string publishDate;
  std::string tercCode;
};

// The query body, compact JSON with sorted keys.
std::string buildActQuery(const std::string& parcelIdentifier, const std::string& tercCode);
// Acts of the registry's answer; an answer of the wrong shape gives none.
std::vector<PlanAct> parseActs(const std::string& body);
// Published acts of a municipality; empty after three failed attempts.
std::vector<PlanAct> queryActs(WfsClient& client, const std::string& tercCode);
// Picks the act to import: enacted first, then being adopted, then in
// preparation, then any; the newest within a tier. False when none matches.
bool chooseAct(const std::vector<PlanAct>& acts, const std::string& planType, PlanAct& out);
// Features of one act's GML; empty after three failed attempts.
std::vector<GisFeature> downloadAct(WfsClient& client, const std::string& actId, DataType dataType);

// Pause between attempts; tests shorten it.
void setRegistryRetryScale(double scale);

}  // namespace veldra
