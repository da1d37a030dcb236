#include "cleanup/DuplicateScan.h"

#include <algorithm>
#include <functional>
#include <map>
#include <unordered_map>

#include "cleanup/DuplicateKeys.h"
#include "cleanup/ElementReading.h"

namespace veldra::cleanup {

namespace {

struct LayerKey {
  std::int32_t layer;
  std::string key;
  bool operator==(const LayerKey&) const = default;
};

struct LayerKeyHash {
  std::size_t operator()(const LayerKey& k) const {
    return std::hash<std::string>{}(k.key) ^ (static_cast<std::size_t>(static_cast<std::uint32_t>(k.layer)) * 0x9e3779b97f4a7c15ull);
  }
};

// Only membership decides what is a duplicate, so a hash map does; the
// listing is sorted by layer and key afterwards.
class Grouper {
 public:
  Grouper(ElementType type, GroupListing listing, const std::vector<std::string>& guids)
      : type_(type), listing_(listing), guids_(guids) {
    first_.reserve(guids.size());
  }

  // True when an element with the same layer and key came earlier.
  bool add(std::int32_t layer, std::string key, std::size_t index) {
    auto [it, fresh] = first_.try_emplace(LayerKey{layer, std::move(key)}, index);
    if (fresh) return false;
    if (listing_ == GroupListing::Build) {
      auto [g, made] = groups_.try_emplace(std::make_pair(layer, it->first.key));
      if (made) g->second = DuplicateGroup{type_, layer, it->first.key, guids_[it->second], {}};
      g->second.duplicates.push_back(guids_[index]);
    }
    return true;
  }

  void moveGroupsInto(std::vector<DuplicateGroup>& out) {
    for (auto& [k, g] : groups_) out.push_back(std::move(g));
  }

 private:
  ElementType type_;
  GroupListing listing_;
  const std::vector<std::string>& guids_;
  std::unordered_map<LayerKey, std::size_t, LayerKeyHash> first_;   // position of the first in guids_
  std::map<std::pair<std::int32_t, std::string>, DuplicateGroup> groups_;
};

}  // namespace

DuplicateScan scanDuplicates(Host& host, const std::vector<std::string>& polylines,
                             const std::vector<std::string>& texts, GroupListing listing) {
  DuplicateScan scan;
  {
    Grouper grouper(ElementType::Polyline, listing, polylines);
    for (std::size_t i = 0; i < polylines.size(); ++i) {
      const auto record = readPolyline(host, polylines[i], i);
      if (!record) continue;
      ++scan.polylinesRead;
      if (grouper.add(record->layer, polylineKey(*record), i)) scan.duplicatePolylines.push_back(polylines[i]);
    }
    grouper.moveGroupsInto(scan.groups);
  }
  {
    Grouper grouper(ElementType::Text, listing, texts);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const auto record = readText(host, texts[i], i);
      if (!record) continue;
      ++scan.textsRead;
      if (grouper.add(record->layer, textKey(*record), i)) scan.duplicateTexts.push_back(texts[i]);
    }
    grouper.moveGroupsInto(scan.groups);
  }
  return scan;
}

}  // namespace veldra::cleanup
