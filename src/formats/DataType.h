// The kinds of data the import handles, with their key texts and default layers.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace veldra {

enum class DataType : int {
  Dzialki = 0,
  Budynki = 1,
  Mpzp = 2,
  Pog = 3,
  Gesut = 4,
  Bdot500 = 5,
  Teren = 6,
  Rastry = 7,
  Budynki3d = 8,
  Poziomice2d = 9,
  Poziomice3d = 10,
  BudynkiLod2 = 11,
  BudynkiNdsm = 12,
  Mosty = 13,
  Drogi = 14,
  TerenChmura = 15,
  PoziomiceChmura2d = 16,
  PoziomiceChmura3d = 17,
  BudynkiRekon = 18,
  WodaChmura = 19,
};

inline constexpr int kDataTypeCount = 20;

struct DataTypeInfo {
  DataType type;
  std::string_view key;
  std::string_view defaultLayer;
};

inline constexpr std::array<DataTypeInfo, kDataTypeCount> kDataTypeTable{{
    {DataType::Dzialki, "dzialki", "GIS_DZIALKI"},
    {DataType::Budynki, "budynki", "GIS_BUDYNKI"},
    {DataType::Mpzp, "mpzp", "GIS_MPZP"},
    {DataType::Pog, "pog", "GIS_POG"},
    {DataType::Gesut, "gesut", "GIS_GESUT"},
    {DataType::Bdot500, "bdot500", "GIS_BDOT500"},
    {DataType::Teren, "teren", "GIS_TEREN"},
    {DataType::Rastry, "rastry", "GIS_RASTRY"},
    {DataType::Budynki3d, "budynki3d", "GIS_BUDYNKI_3D"},
    {DataType::Poziomice2d, "poziomice2d", "GIS_POZIOMICE_2D"},
    {DataType::Poziomice3d, "poziomice3d", "GIS_POZIOMICE_3D"},
    {DataType::BudynkiLod2, "budynkilod2", "GIS_BUDYNKI_LOD2"},
    {DataType::BudynkiNdsm, "budynkindsm", "GIS_BUDYNKI_NMPT"},
    {DataType::Mosty, "mosty", "GIS_MOSTY"},
    {DataType::Drogi, "drogi", "GIS_DROGI"},
    {DataType::TerenChmura, "terenchmura", "GIS_TEREN_CHMURA"},
    {DataType::PoziomiceChmura2d, "poziomicechmura2d", "GIS_POZIOMICE_CHMURA_2D"},
    {DataType::PoziomiceChmura3d, "poziomicechmura3d", "GIS_POZIOMICE_CHMURA_3D"},
    {DataType::BudynkiRekon, "budynkirekon", "GIS_BUDYNKI_LOD2_REKON"},
    {DataType::WodaChmura, "wodachmura", "GIS_WODA_CHMURA"},
}};

// Key text of a data type; any value outside the table is "inne".
inline std::string typeKey(DataType type) {
  const int v = static_cast<int>(type);
  if (v < 0 || v >= kDataTypeCount) return "inne";
  return std::string(kDataTypeTable[static_cast<std::size_t>(v)].key);
}

inline std::string defaultLayerName(DataType type) {
  const int v = static_cast<int>(type);
  if (v < 0 || v >= kDataTypeCount) return {};
  return std::string(kDataTypeTable[static_cast<std::size_t>(v)].defaultLayer);
}

inline std::optional<DataType> dataTypeFromKey(std::string_view key) {
  for (const auto& row : kDataTypeTable)
    if (row.key == key) return row.type;
  return std::nullopt;
}

}  // namespace veldra
