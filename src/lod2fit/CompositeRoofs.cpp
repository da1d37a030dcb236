// Roofs of two wings (cross, L and T plans): each wing is a rectangle taken from the
// footprint's box and built by another primitive with the building's parameters; the
// two solids are handed on together. Wings that run along y are listed from their
// second corner so that a gable on them runs its ridge along their length.
#include "lod2fit/MeshBuilding.h"
#include "lod2fit/Primitives.h"

namespace veldra::lod2fit::primitives {

namespace {

struct Wing {
  const RoofPrimitive* primitive;
  std::vector<Point2> rectangle;
  RoofParams params;
};
struct Wings {
  Wing first, second;
};

enum class Plan { Cross, Corner, T };

Wings wingsOf(Plan plan, const Box2& b, const RoofParams& p, const RoofPrimitive& first, const RoofPrimitive& second) {
  const double cx = (b.x0 + b.x1) / 2, cy = (b.y0 + b.y1) / 2;
  const double qx = (b.x1 - b.x0) / 4, qy = (b.y1 - b.y0) / 4;
  switch (plan) {
    case Plan::Cross:
      return {{&first, rectangle(b.x0, cy - qy, b.x1, cy + qy), p},
              {&second, rectangle(cx - qx, b.y0, cx + qx, b.y1, RidgeAlong::Y), p}};
    case Plan::Corner:
      return {{&first, rectangle(b.x0, b.y0, b.x1, b.y0 + (b.y1 - b.y0) / 2), p},
              {&second, rectangle(b.x0, b.y0, b.x0 + (b.x1 - b.x0) / 2, b.y1, RidgeAlong::Y), p}};
    case Plan::T:
      break;
  }
  const double stem = 0.22 * (b.x1 - b.x0);
  return {{&first, rectangle(b.x0, b.y1 - (b.y1 - b.y0) / 2, b.x1, b.y1), p},
          {&second, rectangle(cx - stem, b.y0, cx + stem, b.y1, RidgeAlong::Y), p}};
}

class TwoWings final : public RoofPrimitive {
 public:
  enum class FirstAxis { Building, West };
  TwoWings(const char* name, Plan plan, const RoofPrimitive& first, const RoofPrimitive& second,
           FirstAxis axis = FirstAxis::Building)
      : name_(name), plan_(plan), first_(first), second_(second), axis_(axis) {}
  const char* name() const override { return name_; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    Wings w = wingsOf(plan_, boundingBox(in->footprint), in->params, first_, second_);
    if (axis_ == FirstAxis::West) {
      w.first.params.axisX = -1;
      w.first.params.axisY = 0;
    }
    RoofMesh mesh = w.first.primitive->build(w.first.params, w.first.rectangle);
    appendMesh(mesh, w.second.primitive->build(w.second.params, w.second.rectangle));
    return mesh;
  }

 private:
  const char* name_;
  Plan plan_;
  const RoofPrimitive& first_;
  const RoofPrimitive& second_;
  FirstAxis axis_;
};

}  // namespace

const RoofPrimitive& gabledCross() {
  static const TwoWings p("GabledCross", Plan::Cross, gabled(), gabled());
  return p;
}
const RoofPrimitive& gabledCorner() {
  static const TwoWings p("GabledCorner", Plan::Corner, gabled(), gabled());
  return p;
}
const RoofPrimitive& gabledTElement() {
  static const TwoWings p("GabledTElement", Plan::T, gabled(), gabled());
  return p;
}
const RoofPrimitive& shedGabledCross() {
  static const TwoWings p("ShedGabledCross", Plan::Cross, gabled(), shed());
  return p;
}
const RoofPrimitive& shedBerlinCross() {
  static const TwoWings p("ShedBerlinCross", Plan::Cross, asymGabled(), shed());
  return p;
}
const RoofPrimitive& shedCornerInvers() {
  static const TwoWings p("ShedCornerInvers", Plan::Corner, shed(), shed(), TwoWings::FirstAxis::West);
  return p;
}
const RoofPrimitive& shedGabledCorner() {
  static const TwoWings p("ShedGabledCorner", Plan::Corner, gabled(), shed());
  return p;
}
const RoofPrimitive& berlinShedCorner() {
  static const TwoWings p("BerlinShedCorner", Plan::Corner, asymGabled(), shed());
  return p;
}

}  // namespace veldra::lod2fit::primitives
