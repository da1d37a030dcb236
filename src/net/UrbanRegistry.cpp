#include "net/UrbanRegistry.h"

#include <chrono>
#include <thread>

#include <nlohmann/json.hpp>

#include "formats/GmlParser.h"
#include "net/Endpoints.h"
#include "net/WfsClient.h"

namespace veldra {

using nlohmann::json;

namespace {

double g_retryScale = 1.0;

void pauseAfterAttempt(int attempt) {
  const auto ms = static_cast<long long>((350 + 550 * attempt) * g_retryScale);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string textMember(const json& o, const char* name) {
  auto it = o.find(name);
  if (it == o.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

}  // namespace

void setRegistryRetryScale(double scale) { g_retryScale = scale < 0 ? 0 : scale; }

std::string buildActQuery(const std::string& parcelIdentifier, const std::string& tercCode) {
  json criteria = json::object();
  criteria["query"] = nullptr;
  criteria["parcelIdentifier"] = parcelIdentifier.empty() ? json(nullptr) : json(parcelIdentifier);
  criteria["statusList"] = json::array();
  criteria["publishedActVersions"] = "CURRENT";
  criteria["tercCodeList"] = tercCode.empty() ? json(nullptr) : json::array({tercCode});
  criteria["publishDateFrom"] = nullptr;
  criteria["publishDateTo"] = nullptr;
  criteria["planValidFrom"] = nullptr;
  criteria["planValidTo"] = nullptr;
  criteria["planTypeList"] = json::array({"MUNICIPAL_GENERAL_PLAN", "LOCAL_SPATIAL_DEVELOPMENT_PLAN"});
  criteria["plansGroup"] = "ALL";
  criteria["levelList"] = json::array();
  json page{{"number", 1}, {"size", 10}, {"sort", {{"direction", "desc"}, {"sortBy", "publishDate"}}}};
  json body{{"criteria", criteria}, {"page", page}};
  return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::vector<PlanAct> parseActs(const std::string& body) {
  std::vector<PlanAct> acts;
  json j = json::parse(body, nullptr, false, false);
  if (j.is_discarded() || !j.is_object()) return acts;
  auto list = j.find("publishedActs");
  if (list == j.end() || !list->is_array()) return acts;
  for (const auto& e : *list) {
    if (!e.is_object()) continue;
    auto id = e.find("publishedActId");
    if (id == e.end()) continue;
    PlanAct a;
    if (id->is_number_unsigned())
      a.publishedActId = std::to_string(id->get<unsigned long long>());
    else if (id->is_number_integer())
      a.publishedActId = std::to_string(id->get<long long>());
    else if (id->is_string())
      a.publishedActId = id->get<std::string>();
    else
      continue;   // an id that is neither text nor integer cannot address a download
    a.title = textMember(e, "title");
    a.planType = textMember(e, "planType");
    a.spatialPlanningActStatus = textMember(e, "spatialPlanningActStatus");
    a.publishDate = textMember(e, "publishDate");
    a.tercCode = textMember(e, "tercCode");
    acts.push_back(std::move(a));
  }
  return acts;
}

std::vector<PlanAct> queryActs(WfsClient& client, const std::string& tercCode) {
  const std::string body = buildActQuery(std::string(), tercCode);
  const std::string url = endpoints::url(endpoints::Service::RegistryBase) + "/api/public/published/query";
  for (int attempt = 0; attempt < 3; ++attempt) {
    HttpResponse r = client.postJson(url, body);
    if (r.status >= 200 && r.status <= 299 && r.body.find("\"publishedActs\"") != std::string::npos)
      return parseActs(r.body);
    if (attempt < 2) pauseAfterAttempt(attempt);
  }
  return {};
}

bool chooseAct(const std::vector<PlanAct>& acts, const std::string& planType, PlanAct& out) {
  auto tierOf = [](const std::string& status) {
    if (status.find("wi") != std::string::npos) return 0;
    if (status.find("przyjmowani") != std::string::npos) return 1;
    if (status.find("opracowaniu") != std::string::npos) return 2;
    return 3;
  };
  for (int tier = 0; tier <= 3; ++tier) {
    const PlanAct* best = nullptr;
    for (const auto& a : acts) {
      if (!planType.empty() && a.planType != planType) continue;
      if (tier < 3 && tierOf(a.spatialPlanningActStatus) != tier) continue;
      if (!best || a.publishDate > best->publishDate) best = &a;
    }
    if (best) {
      out = *best;
      return true;
    }
  }
  return false;
}

std::vector<GisFeature> downloadAct(WfsClient& client, const std::string& actId, DataType dataType) {
  const std::string url =
      endpoints::url(endpoints::Service::RegistryBase) + "/api/public/published/" + actId + "/download";
  for (int attempt = 0; attempt < 3; ++attempt) {
    HttpResponse r = client.get(url);
    if (r.status >= 200 && r.status <= 299 && !r.body.empty())
      return GmlParser::parseFeatureCollection(r.body, dataType);
    if (attempt < 2) pauseAfterAttempt(attempt);
  }
  return {};
}

}  // namespace veldra
