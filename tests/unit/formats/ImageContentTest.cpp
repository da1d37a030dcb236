#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "formats/ImageContent.h"

namespace veldra {
namespace {

struct Px {
  std::uint8_t r, g, b, a;
};

// w x h pixels written by libpng, RGBA or (grey) one channel taken from r.
std::string png(int w, int h, const std::vector<Px>& pixels, bool grey = false) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> raw;
  for (const auto& p : pixels) {
    const std::uint8_t channels[] = {p.r, p.g, p.b, p.a};
    raw.insert(raw.end(), channels, channels + (grey ? 1 : 4));
  }
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, raw.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

std::vector<Px> filled(int n, Px p) { return std::vector<Px>(static_cast<std::size_t>(n), p); }

std::vector<Px> withOne(std::vector<Px> v, std::size_t at, Px p) {
  v[at] = p;
  return v;
}

// A PNG header announcing w x h, with a correct checksum and no image data.
std::string header(std::uint32_t w, std::uint32_t h) {
  std::string chunk = "IHDR";
  for (std::uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) chunk += static_cast<char>((v >> s) & 0xFF);
  chunk += std::string("\x08\x06\x00\x00\x00", 5);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(chunk.size()));
  std::string out = std::string("\x89PNG\r\n\x1a\n", 8) + std::string("\x00\x00\x00\x0d", 4) + chunk;
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>((crc >> s) & 0xFF);
  return out;
}

TEST(ImageContent, BlankAnswersAreToldFromDrawings) {
  const Px clear{0, 0, 0, 0}, clearWhite{255, 255, 255, 0}, white{255, 255, 255, 255}, red{200, 0, 0, 255};
  const std::string drawn = png(16, 16, withOne(filled(256, clear), 77, red));
  struct Case {
    const char* what;
    std::string bytes;
    ImageContent expected;
  } cases[] = {
      {"fully transparent", png(16, 16, filled(256, clear)), ImageContent::Blank},
      {"transparent pixels of different colour values",
       png(16, 16, withOne(filled(256, clear), 5, clearWhite)), ImageContent::Blank},
      {"one flat opaque colour", png(64, 32, filled(2048, white)), ImageContent::Blank},
      {"flat grey without alpha", png(8, 8, filled(64, {90, 90, 90, 255}), true), ImageContent::Blank},
      {"one red pixel on transparent", drawn, ImageContent::Drawing},
      {"one pixel off the flat colour", png(16, 16, withOne(filled(256, white), 255, {254, 255, 255, 255})),
       ImageContent::Drawing},
      {"two grey levels", png(8, 8, withOne(filled(64, {90, 90, 90, 255}), 0, {91, 91, 91, 255}), true),
       ImageContent::Drawing},
      {"single pixel", png(1, 1, {red}), ImageContent::Blank},
      {"truncated", drawn.substr(0, drawn.size() / 2), ImageContent::Unreadable},
      {"header only", header(16, 16), ImageContent::Unreadable},
      {"announces 100000 x 100000", header(100000, 100000), ImageContent::Unreadable},
      {"XML with status 200", "<ServiceExceptionReport/>", ImageContent::Unreadable},
      {"JPEG", std::string("\xff\xd8\xff\xe0\x00\x10JFIF", 10), ImageContent::Drawing},
  };
  for (const auto& c : cases) EXPECT_EQ(inspectImage(c.bytes), c.expected) << c.what;
}

}  // namespace
}  // namespace veldra
