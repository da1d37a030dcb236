// The municipal general plan's zones from the urban-planning registry.
#include "bridge/phases/Phases.h"

#include "net/UrbanRegistry.h"

namespace veldra {

void fetchGeneralPlan(FetchContext& ctx, FetchedData& data) {
  const std::string code = ctx.municipality();
  if (code.empty()) {
    ctx.noteOnce("MPZP/POG pominiete: nie udalo sie ustalic gminy (TERYT) dla widoku.");
    return;
  }
  PlanAct act;
  if (!chooseAct(queryActs(ctx.client(), code), "MUNICIPAL_GENERAL_PLAN", act)) {
    ctx.note("Brak POG dla gminy " + code + " (Plan Ogolny jeszcze nieuchwalony w Rejestrze Urbanistycznym).");
    return;
  }
  std::size_t kept = 0;
  for (auto& zone : downloadAct(ctx.client(), act.publishedActId, DataType::Pog)) {
    // Label point or any vertex inside the frame, edges included.
    if (!featureTouchesFrame(zone, ctx.frame())) continue;
    data.features.push_back(std::move(zone));
    ++kept;
  }
  if (kept == 0) ctx.note("POG gminy " + code + ": akt jest, ale zadna strefa nie wpada w kadr.");
}

}  // namespace veldra
