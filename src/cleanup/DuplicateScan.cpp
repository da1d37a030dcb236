#include "cleanup/DuplicateScan.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string_view>

#include "cleanup/DuplicateKeys.h"
#include "cleanup/ElementReading.h"
#include "platform/PositionIndex.h"

namespace veldra::cleanup {

namespace {

// Keys stored back to back in large blocks: no allocation per key, and a view
// into a stored key stays valid.
class KeyArena {
 public:
  std::string_view store(std::string_view bytes) {
    if (bytes.size() > left_) {
      const std::size_t size = std::max(kBlock, bytes.size());
      blocks_.push_back(std::make_unique<char[]>(size));
      at_ = blocks_.back().get();
      left_ = size;
    }
    std::copy(bytes.begin(), bytes.end(), at_);
    const std::string_view stored(at_, bytes.size());
    at_ += bytes.size();
    left_ -= bytes.size();
    return stored;
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{4} << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* at_ = nullptr;
  std::size_t left_ = 0;
};

// Only membership decides what is a duplicate, so a hash index does; the
// listing is sorted by layer and key afterwards.
class Grouper {
 public:
  Grouper(ElementType type, GroupListing listing, const std::vector<std::string>& guids)
      : type_(type), listing_(listing), guids_(guids) {
    firsts_.reserve(guids.size());
    index_.reserve(guids.size(), [this](std::size_t i) { return firsts_[i].key; });
  }

  // True when an element with the same layer and key came earlier.
  bool add(std::int32_t layer, std::string_view key, std::size_t index) {
    // One byte string for the pair: the layer's four bytes, then the key.
    scratch_.assign(reinterpret_cast<const char*>(&layer), sizeof layer);
    scratch_.append(key);
    const auto keyAt = [this](std::size_t i) { return firsts_[i].key; };
    const auto found = index_.insert(scratch_, firsts_.size(), keyAt);
    if (found.added) {
      firsts_.push_back(First{arena_.store(scratch_), index});
      return false;
    }
    if (listing_ == GroupListing::Build) {
      const std::size_t kept = firsts_[found.position].index;
      auto [g, made] = groups_.try_emplace(std::make_pair(layer, std::string(key)));
      if (made) g->second = DuplicateGroup{type_, layer, std::string(key), guids_[kept], {}};
      g->second.duplicates.push_back(guids_[index]);
    }
    return true;
  }

  void moveGroupsInto(std::vector<DuplicateGroup>& out) {
    for (auto& [k, g] : groups_) out.push_back(std::move(g));
  }

 private:
  struct First {
    std::string_view key;   // layer and key, in arena_
    std::size_t index;      // position in guids_
  };

  ElementType type_;
  GroupListing listing_;
  const std::vector<std::string>& guids_;
  std::string scratch_;
  KeyArena arena_;
  std::vector<First> firsts_;   // one per distinct (layer, key)
  PositionIndex index_;         // into firsts_
  std::map<std::pair<std::int32_t, std::string>, DuplicateGroup> groups_;
};

}  // namespace

DuplicateScan scanDuplicates(Host& host, const std::vector<std::string>& polylines,
                             const std::vector<std::string>& texts, GroupListing listing) {
  DuplicateScan scan;
  ElementReader reader(host);
  KeyWriter keys;
  {
    Grouper grouper(ElementType::Polyline, listing, polylines);
    for (std::size_t i = 0; i < polylines.size(); ++i) {
      const PolylineRecord* record = reader.polyline(polylines[i], i);
      if (!record) continue;
      ++scan.polylinesRead;
      if (grouper.add(record->layer, keys.polyline(*record), i)) scan.duplicatePolylines.push_back(polylines[i]);
    }
    grouper.moveGroupsInto(scan.groups);
  }
  {
    Grouper grouper(ElementType::Text, listing, texts);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const TextRecord* record = reader.text(texts[i], i);
      if (!record) continue;
      ++scan.textsRead;
      if (grouper.add(record->layer, keys.text(*record), i)) scan.duplicateTexts.push_back(texts[i]);
    }
    grouper.moveGroupsInto(scan.groups);
  }
  return scan;
}

}  // namespace veldra::cleanup
