// PNG images written by libpng for tests of what reads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <png.h>

namespace veldra::testing {

struct Px {
  std::uint8_t r, g, b, a;
};

// w x h pixels, RGBA or (grey) one channel taken from r.
inline std::string encodePng(int w, int h, const std::vector<Px>& pixels, bool grey = false) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> raw;
  for (const auto& p : pixels) {
    if (grey) {
      raw.push_back(p.r);
    } else {
      raw.insert(raw.end(), {p.r, p.g, p.b, p.a});
    }
  }
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, raw.data(), 0, nullptr)) return {};
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, raw.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

inline std::vector<Px> filled(int n, Px p) { return std::vector<Px>(static_cast<std::size_t>(n), p); }

inline std::vector<Px> withOne(std::vector<Px> v, std::size_t at, Px p) {
  v[at] = p;
  return v;
}

}  // namespace veldra::testing
