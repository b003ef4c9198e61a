#pragma once
// The layout in which the engine program hands an answer to be held, in the native byte order
// (the program and the app always run on the same machine):
//   the column line {"columns":[{"name","type","numeric"}...]} and a line feed, then per chunk
//   u32 rows (never 0), u64 the length of the rest of the chunk, and for each column u8 kind and
//   `rows` cells of that kind followed by `rows` bytes, 1 for a value and 0 for NULL; a u32 0
//   ends the answer. The length lets a reader take each chunk whole as soon as it has arrived.
#include <cstdint>

namespace plinthos::held {

enum class Kind : std::uint8_t {
  Int = 1,         // i64 per cell
  Unsigned = 2,    // u64 per cell
  Double = 3,      // f64 per cell
  Text = 4,        // u32 length and the bytes per cell: the text as shown
  NumberText = 5,  // as Text: a number's text as JSON would hold it (wide integers, decimals)
  Json = 6,        // as Text: a nested value as JSON
};

inline constexpr char kFlag[] = "-held";

}  // namespace plinthos::held
