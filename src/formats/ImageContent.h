// Whether a map image shows anything. Cascading WMS services answer areas
// they hold no data for with a valid but empty image (fully transparent, or
// one flat colour); such an image must count as no answer, not as a picture.
#pragma once

#include <string_view>

namespace veldra {

enum class ImageContent {
  Drawing,      // at least two distinct visible colours (transparent counts as one), or a JPEG
  Blank,        // every pixel transparent or all of one colour
  Unreadable,   // not a decodable PNG, or larger than kImageMaxPixels
};

// PNG images are decoded (libpng); JPEG images are taken as drawings, since a
// JPEG cannot be transparent and flat JPEG answers have not been seen.
ImageContent inspectImage(std::string_view bytes);

// Images announcing more pixels than this are not decoded: the header's size
// is checked before any buffer is allocated. 4096 x 4096 is the largest tile
// the program requests.
inline constexpr long long kImageMaxPixels = 4096LL * 4096LL;

}  // namespace veldra
