// The typed-value encoding: shortest integer forms at every boundary, any
// form accepted on reading, and hostile bytes refused with an error.
#include <gtest/gtest.h>

#include <string>

#include "cover/core/TypedValues.h"

namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

TEST(TypedValues, IntegersUseTheShortestFormAndReadBack) {
  const struct {
    int32_t value;
    uint8_t type;
    size_t size;
  } cases[] = {{0, 2, 2},       {-128, 2, 2},      {127, 2, 2},           {128, 3, 3},
               {-129, 3, 3},    {32767, 3, 3},     {-32768, 3, 3},        {32768, 4, 5},
               {-32769, 4, 5},  {INT32_MAX, 4, 5}, {INT32_MIN, 4, 5}};
  for (const auto& c : cases) {
    TValueWriter w;
    w.WriteInteger(c.value);
    ASSERT_EQ(w.Bytes().size(), c.size) << c.value;
    EXPECT_EQ(static_cast<uint8_t>(w.Bytes()[0]), c.type) << c.value;
    TValueReader r(w.Bytes());
    int32_t back = 1;
    ASSERT_TRUE(r.ReadInteger(back));
    EXPECT_EQ(back, c.value);
    EXPECT_TRUE(r.AtEnd());
  }
}

TEST(TypedValues, ReaderAcceptsLongerIntegerForms) {
  const std::string rBytes = Bytes({4, 5, 0, 0, 0, 3, 0xFF, 0xFF, 2, 0x80});
  TValueReader r(rBytes);
  int32_t a = 0, b = 0, c = 0;
  ASSERT_TRUE(r.ReadInteger(a) && r.ReadInteger(b) && r.ReadInteger(c));
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(c, -128);
}

TEST(TypedValues, StringsUpTo255AreShortLongerOnesType12) {
  for (size_t n : {size_t{0}, size_t{255}, size_t{256}, size_t{300}}) {
    TValueWriter w;
    const std::string text(n, 'x');
    w.WriteString(text);
    EXPECT_EQ(static_cast<uint8_t>(w.Bytes()[0]), n <= 255 ? 6 : 12) << n;
    EXPECT_EQ(w.Bytes().size(), n + (n <= 255 ? 2 : 5));
    TValueReader r(w.Bytes());
    std::string back;
    ASSERT_TRUE(r.ReadString(back));
    EXPECT_EQ(back, text);
  }
}

TEST(TypedValues, HostileInputIsRefusedWithoutMovingOn) {
  std::string s;
  int32_t i = 0;
  bool b = false;
  // A type-12 string claiming 2^31 characters in a 9-byte buffer.
  const std::string hugeBytes = Bytes({12, 0, 0, 0, 0x80, 'a', 'b', 'c', 'd'});
  TValueReader huge(hugeBytes);
  EXPECT_FALSE(huge.ReadString(s));
  EXPECT_EQ(huge.Position(), 0u);
  EXPECT_NE(huge.Error().find("past the end"), std::string::npos);
  // Wrong types, truncated integers, nothing at all.
  const std::string wrongBytes = Bytes({6, 1, 'a'});
  TValueReader wrong(wrongBytes);
  EXPECT_FALSE(wrong.ReadInteger(i));
  EXPECT_FALSE(wrong.ReadBoolean(b));
  const std::string cutBytes = Bytes({4, 1, 2});
  TValueReader cut(cutBytes);
  EXPECT_FALSE(cut.ReadInteger(i));
  TValueReader empty{std::string_view()};
  EXPECT_FALSE(empty.ReadInteger(i));
  EXPECT_FALSE(empty.ReadShortString(s));
  EXPECT_FALSE(empty.SkipValue());
  // An unknown type byte cannot be skipped.
  const std::string unknownBytes = Bytes({7, 1, 2});
  TValueReader unknown(unknownBytes);
  EXPECT_FALSE(unknown.SkipValue());
}

TEST(TypedValues, SkipFollowsListsButRefusesDeepNesting) {
  const std::string okBytes = Bytes({1, 2, 7, 1, 6, 1, 'a', 9, 0, 0, 8});
  TValueReader ok(okBytes);
  ASSERT_TRUE(ok.SkipValue());
  EXPECT_EQ(ok.Position(), 10u);
  std::string deep(10000, '\x01');
  deep += std::string(10000, '\0');
  TValueReader r(deep);
  EXPECT_FALSE(r.SkipValue());
  EXPECT_NE(r.Error().find("nested"), std::string::npos);
  // A list that never ends.
  const std::string openBytes = Bytes({1, 2, 1, 2, 2});
  TValueReader open(openBytes);
  EXPECT_FALSE(open.SkipValue());
}

}  // namespace
