#include "services/json_text.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "common/outcome.h"

namespace plinthos {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::size_t kDoubleBufferSize = 64;  // as the library's own number buffer

bool isContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence starting at text[i] (a byte of 0x80 or more),
// or 0 when it is ill-formed: overlong forms, surrogates and code points past U+10FFFF are
// refused, as the library's own decoder refuses them.
std::size_t sequenceLength(std::string_view text, std::size_t i) {
  auto at = [&](std::size_t k) -> unsigned char {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
  };
  unsigned char lead = at(0);
  unsigned char second = at(1);
  if (lead >= 0xC2 && lead <= 0xDF) return isContinuation(second) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    return second >= low && second <= high && isContinuation(at(2)) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    return second >= low && second <= high && isContinuation(at(2)) && isContinuation(at(3)) ? 4
                                                                                             : 0;
  }
  return 0;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = sequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void appendJsonString(std::string& out, std::string_view text) {
  const std::size_t start = out.size();
  out += '"';
  std::size_t plainFrom = 0;  // bytes copied as they are, in one piece
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      std::size_t length = sequenceLength(text, i);
      if (length == 0) {
        // Rare: leave the replacement of bad bytes to the library's serializer.
        out.resize(start);
        out += compactJson(json(std::string(text)));
        return;
      }
      i += length;
      continue;
    }
    if (c >= 0x20 && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    out.append(text.data() + plainFrom, i - plainFrom);
    out += '\\';
    switch (c) {
      case '"':
      case '\\':
        out += static_cast<char>(c);
        break;
      case '\b':
        out += 'b';
        break;
      case '\t':
        out += 't';
        break;
      case '\n':
        out += 'n';
        break;
      case '\f':
        out += 'f';
        break;
      case '\r':
        out += 'r';
        break;
      default:
        out += "u00";
        out += kHexDigits[c >> 4];
        out += kHexDigits[c & 0xF];
        break;
    }
    plainFrom = ++i;
  }
  out.append(text.data() + plainFrom, text.size() - plainFrom);
  out += '"';
}

void appendJsonDouble(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char digits[kDoubleBufferSize];
  // The serializer's own conversion, so the digits match a document's dump exactly.
  char* end = nlohmann::detail::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, static_cast<std::size_t>(end - digits));
}

}  // namespace plinthos
