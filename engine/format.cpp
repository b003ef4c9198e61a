#include "engine/format.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace plinthos::engine {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kHex[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence starting at p (1 to 4), or 0 when the lead byte
// starts no valid sequence within the text.
std::size_t validSequence(const unsigned char* p, const unsigned char* end) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;  // overlong
    if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - p) < len) return 0;
  if (p[1] < lo || p[1] > hi) return 0;
  for (std::size_t i = 2; i < len; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return len;
}

template <bool Json>
void writeText(Sink& out, const char* data, std::size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  const auto* end = p + size;
  const auto* run = p;  // start of the bytes that can be copied as they are
  auto flushRun = [&](const unsigned char* upto) {
    if (upto > run)
      out.write(reinterpret_cast<const char*>(run), static_cast<std::size_t>(upto - run));
  };
  while (p < end) {
    unsigned char c = *p;
    if (c >= 0x80) {
      std::size_t len = validSequence(p, end);
      if (len == 0) {
        flushRun(p);
        out.write(kReplacement, 3);
        ++p;
        run = p;
      } else {
        p += len;
      }
      continue;
    }
    if constexpr (Json) {
      if (c < 0x20 || c == '"' || c == '\\') {
        flushRun(p);
        out.put('\\');
        switch (c) {
          case '"':
            out.put('"');
            break;
          case '\\':
            out.put('\\');
            break;
          case '\b':
            out.put('b');
            break;
          case '\f':
            out.put('f');
            break;
          case '\n':
            out.put('n');
            break;
          case '\r':
            out.put('r');
            break;
          case '\t':
            out.put('t');
            break;
          default: {
            char esc[5] = {'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            out.write(esc, 5);
          }
        }
        ++p;
        run = p;
        continue;
      }
    }
    ++p;
  }
  flushRun(p);
}

char* twoDigits(char* p, unsigned value) {
  p[0] = static_cast<char>('0' + value / 10);
  p[1] = static_cast<char>('0' + value % 10);
  return p + 2;
}

constexpr int32_t kFirstFastDay = -719162;  // 0001-01-01
constexpr int32_t kLastFastDay = 2932896;   // 9999-12-31
constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kMicrosPerDay = 86400 * kMicrosPerSecond;

// Proleptic Gregorian civil date from days since 1970-01-01.
void civilFromDays(int32_t days, int& year, unsigned& month, unsigned& day) {
  int64_t z = static_cast<int64_t>(days) + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  auto doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

char* dateText(char* p, int32_t days) {
  int year;
  unsigned month, day;
  civilFromDays(days, year, month, day);
  auto y = static_cast<unsigned>(year);
  p = twoDigits(p, y / 100);
  p = twoDigits(p, y % 100);
  *p++ = '-';
  p = twoDigits(p, month);
  *p++ = '-';
  return twoDigits(p, day);
}

// Time of day from sub-second ticks; the fraction without trailing zeros, as the engine prints.
template <int Digits>
char* timeText(char* p, int64_t ticks) {
  constexpr int64_t kPerSecond = Digits == 6 ? 1000000 : 1000000000;
  auto seconds = static_cast<unsigned>(ticks / kPerSecond);
  auto fraction = static_cast<unsigned>(ticks % kPerSecond);
  p = twoDigits(p, seconds / 3600);
  *p++ = ':';
  p = twoDigits(p, seconds / 60 % 60);
  *p++ = ':';
  p = twoDigits(p, seconds % 60);
  if (fraction != 0) {
    *p++ = '.';
    char digits[Digits];
    for (int i = Digits - 1; i >= 0; --i) {
      digits[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    int len = Digits;
    while (digits[len - 1] == '0') --len;
    std::memcpy(p, digits, static_cast<std::size_t>(len));
    p += len;
  }
  return p;
}

}  // namespace

void writeJsonString(Sink& out, const char* data, std::size_t size) {
  out.put('"');
  writeText<true>(out, data, size);
  out.put('"');
}

void writeUtf8(Sink& out, const char* data, std::size_t size) {
  writeText<false>(out, data, size);
}

void writeEscaped(Sink& out, const char* data, std::size_t size, bool json) {
  if (json) {
    writeText<true>(out, data, size);
  } else {
    writeText<false>(out, data, size);
  }
}

std::size_t utf8Length(const char* data, std::size_t size) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if ((static_cast<unsigned char>(data[i]) & 0xC0) != 0x80) ++n;
  }
  return n;
}

void writeSigned(Sink& out, int64_t value) {
  char* p = out.reserve(24);
  out.commit(std::to_chars(p, p + 24, value).ptr);
}

void writeUnsigned(Sink& out, uint64_t value) {
  char* p = out.reserve(24);
  out.commit(std::to_chars(p, p + 24, value).ptr);
}

void writeUInt128(Sink& out, UInt128 value) {
  char digits[40];
  char* end = digits + sizeof digits;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + static_cast<unsigned>(value % 10));
    value /= 10;
  } while (value != 0);
  out.write(p, static_cast<std::size_t>(end - p));
}

void writeInt128(Sink& out, Int128 value) {
  if (value < 0) {
    out.put('-');
    // Negate in unsigned arithmetic so the smallest value does not overflow.
    writeUInt128(out, UInt128(0) - static_cast<UInt128>(value));
  } else {
    writeUInt128(out, static_cast<UInt128>(value));
  }
}

void writeDecimal(Sink& out, Int128 value, uint8_t scale) {
  if (scale == 0) {
    writeInt128(out, value);
    return;
  }
  UInt128 magnitude =
      value < 0 ? UInt128(0) - static_cast<UInt128>(value) : static_cast<UInt128>(value);
  char digits[48];
  char* end = digits + sizeof digits;
  char* p = end;
  for (unsigned i = 0; i < scale; ++i) {
    *--p = static_cast<char>('0' + static_cast<unsigned>(magnitude % 10));
    magnitude /= 10;
  }
  *--p = '.';
  do {
    *--p = static_cast<char>('0' + static_cast<unsigned>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  out.write(p, static_cast<std::size_t>(end - p));
}

namespace {

template <typename F>
void writeFloating(Sink& out, F value, bool json) {
  if (std::isnan(value) || std::isinf(value)) {
    const char* text = std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
    if (json) out.put('"');
    out.write(text, std::strlen(text));
    if (json) out.put('"');
    return;
  }
  char* p = out.reserve(40);
  char* end = std::to_chars(p, p + 40, value).ptr;
  // A whole value prints as "3"; the engine and JSON readers alike expect "3.0".
  bool whole = true;
  for (char* q = p; q < end; ++q) {
    if (*q != '-' && (*q < '0' || *q > '9')) {
      whole = false;
      break;
    }
  }
  if (whole) {
    *end++ = '.';
    *end++ = '0';
  }
  out.commit(end);
}

}  // namespace

void writeDouble(Sink& out, double value, bool json) {
  writeFloating(out, value, json);
}
void writeFloat(Sink& out, float value, bool json) {
  writeFloating(out, value, json);
}

bool writeDate(Sink& out, int32_t days) {
  if (days < kFirstFastDay || days > kLastFastDay) return false;
  char* p = out.reserve(10);
  out.commit(dateText(p, days));
  return true;
}

bool writeTime(Sink& out, int64_t micros) {
  if (micros < 0 || micros > kMicrosPerDay) return false;
  char* p = out.reserve(15);
  out.commit(timeText<6>(p, micros));
  return true;
}

bool writeTimestamp(Sink& out, int64_t micros) {
  constexpr int64_t kFirst = static_cast<int64_t>(kFirstFastDay) * kMicrosPerDay;
  constexpr int64_t kEnd = (static_cast<int64_t>(kLastFastDay) + 1) * kMicrosPerDay;
  if (micros < kFirst || micros >= kEnd) return false;
  int64_t days = micros / kMicrosPerDay;
  int64_t rest = micros % kMicrosPerDay;
  if (rest < 0) {
    rest += kMicrosPerDay;
    --days;
  }
  char* p = out.reserve(26);
  p = dateText(p, static_cast<int32_t>(days));
  *p++ = ' ';
  out.commit(timeText<6>(p, rest));
  return true;
}

bool writeTimeNs(Sink& out, int64_t nanos) {
  if (nanos < 0 || nanos > kMicrosPerDay * 1000) return false;
  char* p = out.reserve(18);
  out.commit(timeText<9>(p, nanos));
  return true;
}

void writeUuid(Sink& out, uint64_t lower, int64_t upper) {
  // Stored with the top bit flipped so that signed order is text order.
  uint64_t high = static_cast<uint64_t>(upper) ^ (uint64_t(1) << 63);
  char text[36];
  int pos = 0;
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) text[pos++] = '-';
    uint64_t word = i < 16 ? high : lower;
    int shift = (15 - (i % 16)) * 4;
    text[pos++] = kHex[(word >> shift) & 0xF];
  }
  out.write(text, sizeof text);
}

}  // namespace plinthos::engine
