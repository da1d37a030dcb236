// Contour lines from the national elevation model (NMT), through the one
// contour recipe.
#include "bridge/phases/Phases.h"

#include "terrain/ContourRecipe.h"

namespace veldra {

void fetchNmtContours(FetchContext& ctx, FetchedData& data) {
  const FetchRequest& req = ctx.request();
  if (!isAllowedContourInterval(req.contourCut)) {
    ctx.note(contourIntervalNotice(req.contourCut));
    return;
  }
  const FetchContext::NmtSheets& nmt = ctx.nmtSheets("Poziomice: NMT");
  if (!nmt.indexed) {
    ctx.note("Poziomice: brak kafli NMT dla tego obszaru w skorowidzu.");
    return;
  }
  if (nmt.grids.empty()) {
    ctx.note("Poziomice: nie udalo sie pobrac zadnego pliku NMT.");
    return;
  }
  std::string stepNote;
  const double step = contourGridStep(ctx.frame(), req.terrainStep, stepNote);
  ctx.note(stepNote);
  ContourRecipe recipe;
  recipe.interval = req.contourCut;
  recipe.smooth = req.smoothContours;
  recipe.cancel = [&ctx] { return ctx.cancelled(); };
  recipe.progress = [&ctx](int done, int total) { ctx.cancellableProgress(done, total, "Poziomice: liczenie warstwic"); };
  ContourSet set = buildContours(ctx.frame(), step, makeGridSampler(nmt.grids), recipe);
  if (set.noNodes || set.noHeights) {
    ctx.note("Poziomice: caly probkowany obszar to NODATA (brak danych NMT dla tego kadru).");
    return;
  }
  ctx.note(set.message);
  data.contours = std::move(set);
}

}  // namespace veldra
