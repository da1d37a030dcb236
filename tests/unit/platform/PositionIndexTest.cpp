// The position index against std::unordered_map on many short, similar keys
// (long probe chains), through growth, rebuilds and repeated keys.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/PositionIndex.h"

namespace veldra {
namespace {

TEST(PositionIndex, AgreesWithAHashMap) {
  std::mt19937 rng(3);
  std::vector<std::string> records;
  const auto keyAt = [&](std::size_t i) -> const std::string& { return records.at(i); };
  PositionIndex index;
  std::unordered_map<std::string, std::size_t> oracle;
  for (int i = 0; i < 20000; ++i) {
    const std::string key = "E" + std::to_string(rng() % 15000);
    const auto got = index.insert(key, records.size(), keyAt);
    const auto [it, added] = oracle.try_emplace(key, records.size());
    ASSERT_EQ(got.added, added) << key;
    ASSERT_EQ(got.position, it->second) << key;
    if (added) records.push_back(key);
  }
  EXPECT_EQ(index.size(), oracle.size());
  for (const std::string key : {"E", "", "E15000", "E-1", "E00"}) EXPECT_FALSE(index.find(key, keyAt)) << key;
  for (const auto& [key, position] : oracle) ASSERT_EQ(index.find(key, keyAt), position) << key;

  // Rebuilt over records holding a repeated key: the first position stays.
  records.push_back(records.front());
  EXPECT_FALSE(index.rebuild(records.size(), keyAt));
  EXPECT_EQ(index.find(records.front(), keyAt), 0u);
  records.pop_back();
  EXPECT_TRUE(index.rebuild(records.size(), keyAt));
  for (const auto& [key, position] : oracle) ASSERT_EQ(index.find(key, keyAt), position) << key;
}

}  // namespace
}  // namespace veldra
