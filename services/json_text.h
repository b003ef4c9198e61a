#pragma once
// JSON text written piece by piece for replies too large to build as a document first. Every
// piece comes out byte for byte as the JSON library's compact serializer (UTF-8 kept, bad
// bytes replaced) would write it, so a reply does not depend on which way it was built.
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace plinthos {

// True when `text` is well-formed UTF-8 throughout, so it reaches a page unchanged.
bool isValidUtf8(std::string_view text);

// `text` as a quoted JSON string.
void appendJsonString(std::string& out, std::string_view text);

// A finite double in the library's shortest round-trip form ("3.0", "1e-07").
void appendJsonDouble(std::string& out, double value);

template <typename Integer>
void appendJsonInteger(std::string& out, Integer value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, static_cast<std::size_t>(end - digits));
}

}  // namespace plinthos
