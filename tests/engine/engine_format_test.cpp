// Text repair and number forms of the engine program's writer.
#include <gtest/gtest.h>

#include "engine/format.h"
#include "tests/engine/engine_runner.h"

namespace plinthos::engine {
namespace {

std::string json(const std::string& text) {
  Sink sink;
  writeJsonString(sink, text.data(), text.size());
  return std::string(sink.view());
}

TEST(EngineFormat, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(json("ok é"), "\"ok é\"");
  EXPECT_EQ(json("a\xff"
                 "b"),
            "\"a\xEF\xBF\xBD"
            "b\"");
  EXPECT_EQ(json("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");                  // overlong
  EXPECT_EQ(json("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");  // surrogate
  EXPECT_EQ(json("x\xE2\x9C"), "\"x\xEF\xBF\xBD\xEF\xBF\xBD\"");                // cut short
  EXPECT_EQ(json("\xF4\x90\x80\x80").size(), 2u + 4 * 3);                       // above U+10FFFF
  EXPECT_EQ(json("\xF0\x9F\x98\x80"), "\"\xF0\x9F\x98\x80\"");
  EXPECT_EQ(json(std::string("\x1f\"\\\x7f", 4)), "\"\\u001f\\\"\\\\\x7f\"");
  for (int b = 0x80; b < 0x100; ++b) {
    EXPECT_TRUE(plinthos::test::isValidUtf8(json(std::string(1, static_cast<char>(b)))));
  }
}

TEST(EngineFormat, NumbersAndDates) {
  Sink sink;
  writeDecimal(sink, -5, 3);
  sink.put(' ');
  writeDecimal(sink, 0, 2);
  sink.put(' ');
  writeInt128(sink, static_cast<Int128>(UInt128(1) << 127));
  sink.put(' ');
  writeDouble(sink, 1e-7, true);
  sink.put(' ');
  writeDouble(sink, 3.0, false);
  EXPECT_EQ(sink.view(), "-0.005 0.00 -170141183460469231731687303715884105728 1e-07 3.0");
  sink.clear();
  EXPECT_TRUE(writeDate(sink, 0));
  EXPECT_FALSE(writeDate(sink, 2932897));  // year 10000 is left to the engine
  EXPECT_EQ(sink.view(), "1970-01-01");
}

}  // namespace
}  // namespace plinthos::engine
