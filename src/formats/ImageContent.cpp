#include "formats/ImageContent.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include <png.h>

namespace veldra {

namespace {

bool isPng(std::string_view b) { return b.size() > 8 && std::memcmp(b.data(), "\x89PNG", 4) == 0; }
bool isJpeg(std::string_view b) { return b.size() > 3 && static_cast<unsigned char>(b[0]) == 0xFF &&
                                         static_cast<unsigned char>(b[1]) == 0xD8; }

// Every pixel the same once fully transparent pixels are taken as one colour.
bool isFlat(const std::vector<std::uint8_t>& rgba) {
  auto pixel = [&](std::size_t i) {
    std::uint32_t v;
    std::memcpy(&v, &rgba[i], 4);
    return rgba[i + 3] == 0 ? 0u : v;
  };
  const std::uint32_t first = pixel(0);
  for (std::size_t i = 4; i + 4 <= rgba.size(); i += 4)
    if (pixel(i) != first) return false;
  return true;
}

}  // namespace

ImageContent inspectImage(std::string_view bytes) {
  if (isJpeg(bytes)) return ImageContent::Drawing;
  if (!isPng(bytes)) return ImageContent::Unreadable;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return ImageContent::Unreadable;
  if (image.width == 0 || image.height == 0 ||
      static_cast<long long>(image.width) * image.height > kImageMaxPixels) {
    png_image_free(&image);
    return ImageContent::Unreadable;
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(image));
  const bool read = png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr) != 0;
  png_image_free(&image);   // safe when libpng has freed it already
  if (!read) return ImageContent::Unreadable;
  return isFlat(rgba) ? ImageContent::Blank : ImageContent::Drawing;
}

}  // namespace veldra
