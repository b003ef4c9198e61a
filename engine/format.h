#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/sink.h"

namespace plinthos::engine {

__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

// Text of `size` bytes as a JSON string literal; invalid UTF-8 bytes become U+FFFD.
void writeJsonString(Sink& out, const char* data, std::size_t size);
// The string body only: escaped for JSON when `json`, else just repaired to valid UTF-8.
void writeEscaped(Sink& out, const char* data, std::size_t size, bool json);
// The same text without quoting, only repaired to valid UTF-8.
void writeUtf8(Sink& out, const char* data, std::size_t size);
// Number of code points in valid-UTF-8 text (for column widths).
std::size_t utf8Length(const char* data, std::size_t size);

void writeSigned(Sink& out, int64_t value);
void writeUnsigned(Sink& out, uint64_t value);
void writeInt128(Sink& out, Int128 value);
void writeUInt128(Sink& out, UInt128 value);
// A scaled integer as a plain decimal number: 12345 with scale 2 gives 123.45.
void writeDecimal(Sink& out, Int128 value, uint8_t scale);
// Shortest text that reads back to the same value; whole values keep ".0" as the engine
// prints them. NaN and infinities as nan, inf, -inf; quoted in JSON, which cannot hold them.
void writeDouble(Sink& out, double value, bool json);
void writeFloat(Sink& out, float value, bool json);

// Fast paths for the common calendar range (years 1 to 9999); false when the value lies
// outside it and must be printed by the engine instead.
bool writeDate(Sink& out, int32_t days);
bool writeTime(Sink& out, int64_t micros);
bool writeTimestamp(Sink& out, int64_t micros);
bool writeTimeNs(Sink& out, int64_t nanos);
void writeUuid(Sink& out, uint64_t lower, int64_t upper);

}  // namespace plinthos::engine
