#include "terrain/NdsmModel.h"

#include <algorithm>

namespace veldra {

std::optional<double> ndsmHeightAt(const NdsmModel& model, double x, double y) {
  const std::optional<double> top = sampleGrid(model.surface, x, y);
  if (!top) return std::nullopt;
  const std::optional<double> bottom = sampleGrid(model.ground, x, y);
  if (!bottom) return std::nullopt;
  return *top - *bottom;
}

double medianOf(std::vector<double>& values) {
  const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), mid, values.end());
  return *mid;
}

}  // namespace veldra
