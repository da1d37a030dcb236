// Which record fields and memo parts each element type uses. The host resets
// the rest on creation and the project file stores only these.
#pragma once

namespace veldra::elementfields {

enum Field : unsigned {
  kFill = 1u << 0,          // fillPen, backgroundPen, fillType
  kRgb = 1u << 1,           // useRgbColor, r, g, b
  kSurface = 1u << 2,       // surfaceMaterial
  kBuildingMat = 1u << 3,   // buildingMaterial
  kLevels = 1u << 4,        // level, thickness
  kTextStyle = 1u << 5,     // textSize, textAnchor
  kPlacement = 1u << 6,     // angle, location
  kPicture = 1u << 7,       // width, height, pictureFormat, mirrored
  kClosed = 1u << 8,        // closed
};

enum MemoPart : unsigned {
  kCoords = 1u << 0,       // coords, ringEnds
  kZ = 1u << 1,            // z
  kLevelLines = 1u << 2,   // levelLines
  kText = 1u << 3,         // text
  kPixels = 1u << 4,       // pixels
  kBody = 1u << 5,         // body
};

inline unsigned fieldsOf(int typeCode) {
  switch (typeCode) {
    case 8: return kFill | kRgb | kSurface | kBuildingMat | kLevels;
    case 10: return kFill | kRgb | kSurface | kLevels;
    case 15: return kRgb | kTextStyle | kPlacement;
    case 18: return kFill | kRgb;
    case 20: return kClosed;
    case 31: return kPlacement | kPicture;
    case 45: return kRgb | kSurface | kBuildingMat;
    default: return 0;
  }
}

inline unsigned memoPartsOf(int typeCode) {
  switch (typeCode) {
    case 8: case 18: case 20: return kCoords;
    case 10: return kCoords | kZ | kLevelLines;
    case 15: return kText;
    case 31: return kPixels;
    case 45: return kBody;
    default: return 0;
  }
}

// Slabs, meshes and fills: every ring closed, at least three corners.
inline bool isPolygonType(int typeCode) { return typeCode == 8 || typeCode == 10 || typeCode == 18; }

}  // namespace veldra::elementfields
