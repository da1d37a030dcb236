#include "platform/TextCodec.h"

#include <cstdint>

namespace veldra {
namespace {

// One code point at text[i]. `length` is the length of the sequence when its
// lead and continuation bytes are well formed (even if the value they carry is
// not allowed), else 1. Returns false when the sequence is malformed.
bool decodeUtf8At(std::string_view text, std::size_t i, char32_t& cp, std::size_t& length) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t b0 = byte(i);
  length = 1;
  int extra = 0;
  char32_t min = 0;
  if (b0 < 0x80) {
    cp = b0;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    return false;
  }
  if (text.size() - i <= static_cast<std::size_t>(extra)) return false;
  for (int k = 1; k <= extra; ++k) {
    const std::uint8_t b = byte(i + static_cast<std::size_t>(k));
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  length = static_cast<std::size_t>(extra) + 1;
  return !(cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF));
}

// Decodes one code point at text[i]; advances i. Returns false when malformed.
bool decodeUtf8(std::string_view text, std::size_t& i, char32_t& cp) {
  std::size_t length = 1;
  if (!decodeUtf8At(text, i, cp, length)) return false;
  i += length;
  return true;
}

void appendUtf16(char32_t cp, std::u16string& out) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  char32_t cp = 0;
  while (i < text.size())
    if (!decodeUtf8(text, i, cp)) return false;
  return true;
}

bool utf16ToUtf8(std::u16string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return true;
}

bool utf8ToUtf16(std::string_view in, std::u16string& out) {
  out.clear();
  out.reserve(in.size());
  std::size_t i = 0;
  char32_t cp = 0;
  while (i < in.size()) {
    if (!decodeUtf8(in, i, cp)) return false;
    appendUtf16(cp, out);
  }
  return true;
}

std::u16string utf8ToUtf16Lossy(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    char32_t cp = 0;
    std::size_t length = 1;
    if (!decodeUtf8At(in, i, cp, length)) cp = 0xFFFD;
    appendUtf16(cp, out);
    i += length;
  }
  return out;
}

}  // namespace veldra
