// Positions of records in a sequence, by a text key each record holds.
//
// An open-addressing table of (hash tag, position) pairs; the keys stay in the
// records and are compared there. Building it for a million records therefore
// allocates one array and copies no string, where a map of strings frees and
// allocates a node per record (the project's element index spent most of a
// large cleanup doing that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace veldra {

class PositionIndex {
 public:
  // Positions must stay below this.
  static constexpr std::size_t kMaxPositions = UINT32_MAX - 1;

  // `keyAt(position)` gives the key of the record at a position.
  template <class KeyAt>
  std::optional<std::size_t> find(std::string_view key, const KeyAt& keyAt) const {
    if (slots_.empty()) return std::nullopt;
    const std::uint64_t h = hash(key);
    for (std::size_t s = h & mask(); slots_[s].position != 0; s = (s + 1) & mask()) {
      const Slot& slot = slots_[s];
      if (slot.tag == tag(h) && std::string_view(keyAt(slot.position - 1)) == key) return slot.position - 1;
    }
    return std::nullopt;
  }

  struct Insertion {
    std::size_t position;   // of the record that holds the key
    bool added;             // false: the key was there already, nothing added
  };
  // Adds a position unless its key is indexed already. Positions must stay
  // below kMaxPositions (std::length_error otherwise).
  template <class KeyAt>
  Insertion insert(std::string_view key, std::size_t position, const KeyAt& keyAt) {
    if (position >= kMaxPositions) throw std::length_error("PositionIndex: position out of range");
    if ((count_ + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 16 : slots_.size() * 2, keyAt);
    const std::uint64_t h = hash(key);
    std::size_t s = h & mask();
    for (; slots_[s].position != 0; s = (s + 1) & mask())
      if (slots_[s].tag == tag(h) && std::string_view(keyAt(slots_[s].position - 1)) == key)
        return {slots_[s].position - 1, false};
    slots_[s] = Slot{tag(h), static_cast<std::uint32_t>(position + 1)};
    ++count_;
    return {position, true};
  }

  // Indexes positions 0 to count - 1 afresh; false when a key repeats (its
  // first position stays).
  template <class KeyAt>
  bool rebuild(std::size_t count, const KeyAt& keyAt) {
    clear();
    reserve(count, keyAt);
    bool unique = true;
    for (std::size_t i = 0; i < count; ++i) unique = insert(keyAt(i), i, keyAt).added && unique;
    return unique;
  }

  // Room for `count` keys without growing on the way.
  template <class KeyAt>
  void reserve(std::size_t count, const KeyAt& keyAt) {
    std::size_t n = 16;
    while (n < count * 2) n *= 2;
    if (n > slots_.size()) rehash(n, keyAt);
  }

  void clear() {
    slots_.clear();
    count_ = 0;
  }
  std::size_t size() const { return count_; }

 private:
  struct Slot {
    std::uint32_t tag = 0;
    std::uint32_t position = 0;   // position + 1; 0 marks an empty slot
  };

  static std::uint64_t hash(std::string_view key) { return std::hash<std::string_view>{}(key); }
  // The bits the slot number does not use, so equal tags rarely mean a compare in vain.
  static std::uint32_t tag(std::uint64_t h) { return static_cast<std::uint32_t>(h >> 32); }
  std::size_t mask() const { return slots_.size() - 1; }

  template <class KeyAt>
  void rehash(std::size_t slots, const KeyAt& keyAt) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(slots, Slot{});
    for (const Slot& slot : old) {
      if (slot.position == 0) continue;
      std::size_t s = hash(keyAt(slot.position - 1)) & mask();
      while (slots_[s].position != 0) s = (s + 1) & mask();
      slots_[s] = slot;
    }
  }

  std::vector<Slot> slots_;   // a power of two in size, at most half full
  std::size_t count_ = 0;
};

}  // namespace veldra
