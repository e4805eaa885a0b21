// The value-to-text conversions of EffectBase, character for character, and their dispatch
// through an effect that overrides formatFloat and getSampleRate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "frame/effect_base.h"
#include "tests/frame/probe_effect.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

enum class Conversion { kFloat, kDecibels, kHertz, kMilliseconds, kInteger };

const char* nameOf(Conversion c) {
  switch (c) {
    case Conversion::kFloat:
      return "formatFloat";
    case Conversion::kDecibels:
      return "formatDecibels";
    case Conversion::kHertz:
      return "formatHertz";
    case Conversion::kMilliseconds:
      return "formatMilliseconds";
    case Conversion::kInteger:
      return "formatInteger";
  }
  return "";
}

struct TextCase {
  Conversion conversion;
  double value;  // a float for all but formatInteger, an int32 there
  const char* expected;
  float sampleRate = 44100.0f;  // sent with effSetSampleRate first
};

const TextCase kTextCases[] = {
    // formatFloat: exactly 8 characters, fractions cut
    {Conversion::kFloat, 0.0, "0.000000"},
    {Conversion::kFloat, 120.0, "120.0000"},
    {Conversion::kFloat, -3.25, "-3.25000"},
    {Conversion::kFloat, 12.0412, "12.04119"},  // 20 log10 4 as a float
    {Conversion::kFloat, 0.7, "0.699999"},      // the float 0.699999988...
    {Conversion::kFloat, -10000000.0, " Huge!  "},
    {Conversion::kFloat, -9999999.0, "-999999."},
    {Conversion::kFloat, 12345678.0, "2345678."},
    {Conversion::kFloat, 100000000.0, " Huge!  "},
    {Conversion::kFloat, 99999999.0, " Huge!  "},  // arrives as 100000000.0f
    {Conversion::kFloat, 99999992.0, "9999992."},  // the largest float that is not huge
    {Conversion::kFloat, -0.0, "0.000000"},
    {Conversion::kFloat, -0.5, "-0.50000"},
    {Conversion::kFloat, 1234.5678, "1234.567"},
    {Conversion::kFloat, -0.001, "-0.00100"},
    {Conversion::kFloat, kNaN, " Huge!  "},
    {Conversion::kFloat, kInf, " Huge!  "},
    {Conversion::kFloat, -kInf, " Huge!  "},
    // formatDecibels: 20 log10 in double, rounded to float
    {Conversion::kDecibels, 4.0, "12.04119"},
    {Conversion::kDecibels, 0.5, "-6.02059"},
    {Conversion::kDecibels, 1.0, "0.000000"},
    {Conversion::kDecibels, 0.0, "  -oo   "},
    {Conversion::kDecibels, -0.0, "  -oo   "},
    {Conversion::kDecibels, -1.0, "  -oo   "},
    {Conversion::kDecibels, -kInf, "  -oo   "},
    {Conversion::kDecibels, kInf, " Huge!  "},
    {Conversion::kDecibels, kNaN, " Huge!  "},
    // formatHertz: the sample rate over a period in samples
    {Conversion::kHertz, 0.0, "0.000000"},  // without dividing
    {Conversion::kHertz, 441.0, "100.0000"},
    {Conversion::kHertz, 100.0, "441.0000"},
    {Conversion::kHertz, 480.0, "100.0000", 48000.0f},
    {Conversion::kHertz, kInf, "0.000000"},
    {Conversion::kHertz, kNaN, " Huge!  "},
    // formatMilliseconds: samples × 1000 / rate in double, rounded to float
    {Conversion::kMilliseconds, 44100.0, "1000.000"},
    {Conversion::kMilliseconds, 441.0, "10.00000"},
    {Conversion::kMilliseconds, 1.0, "0.022675"},
    {Conversion::kMilliseconds, 48.0, "1.000000", 48000.0f},
    {Conversion::kMilliseconds, 0.0, "0.000000"},
    {Conversion::kMilliseconds, kInf, " Huge!  "},
    {Conversion::kMilliseconds, kNaN, " Huge!  "},
    // formatInteger: "%7d" cut after 8 characters; only the upper bound is checked
    {Conversion::kInteger, 42, "     42"},
    {Conversion::kInteger, 0, "      0"},
    {Conversion::kInteger, -5, "     -5"},
    {Conversion::kInteger, 12345678, "12345678"},
    {Conversion::kInteger, -12345678, "-1234567"},
    {Conversion::kInteger, 99999999, "99999999"},
    {Conversion::kInteger, 100000000, " Huge!  "},
    {Conversion::kInteger, INT32_MAX, " Huge!  "},
    {Conversion::kInteger, INT32_MIN, "-2147483"},
};

TEST(ValueText, EveryConversionCharacterForCharacter) {
  for (const TextCase& c : kTextCases) {
    SCOPED_TRACE(std::string(nameOf(c.conversion)) + "(" + std::to_string(c.value) + ") at " +
                 std::to_string(c.sampleRate) + " Hz");
    Harness<BareEffect> h;
    h.dispatch(effSetSampleRate, 0, 0, nullptr, c.sampleRate);
    // Canary bytes show any write past the terminator.
    char text[32];
    std::memset(text, '#', sizeof(text));
    const auto value = static_cast<float>(c.value);
    switch (c.conversion) {
      case Conversion::kFloat:
        h.effect->formatFloat(value, text);
        break;
      case Conversion::kDecibels:
        h.effect->formatDecibels(value, text);
        break;
      case Conversion::kHertz:
        h.effect->formatHertz(value, text);
        break;
      case Conversion::kMilliseconds:
        h.effect->formatMilliseconds(value, text);
        break;
      case Conversion::kInteger:
        h.effect->formatInteger(static_cast<int32_t>(c.value), text);
        break;
    }
    const std::size_t length = std::strlen(c.expected);
    ASSERT_EQ(std::memchr(text, 0, sizeof(text)), text + length) << "terminator position";
    EXPECT_STREQ(text, c.expected);
    for (std::size_t i = length + 1; i < sizeof(text); ++i) {
      EXPECT_EQ(text[i], '#') << "byte " << i << " written past the terminator";
    }
  }
}

// Hertz, milliseconds and decibels reach formatFloat and getSampleRate through the table.
class OverridingEffect : public BareEffect {
 public:
  using BareEffect::BareEffect;
  void formatFloat(float value, char* text) override {
    received = value;
    std::strcpy(text, "derived");
  }
  float getSampleRate() override { return 1000.0f; }
  float received = -1.0f;
};

TEST(ValueText, ConversionsFollowAnOverridingEffect) {
  struct Case {
    Conversion conversion;
    float value;
    float received;  // what the derived formatFloat is handed
  };
  const Case cases[] = {
      {Conversion::kDecibels, 4.0f, 12.0412f},
      {Conversion::kDecibels, 1.0f, 0.0f},
      {Conversion::kHertz, 10.0f, 100.0f},  // 1000 Hz / 10, not 44100 / 10
      {Conversion::kHertz, 0.0f, 0.0f},
      {Conversion::kMilliseconds, 500.0f, 500.0f},  // at 1000 Hz
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(nameOf(c.conversion)) + "(" + std::to_string(c.value) + ")");
    Harness<OverridingEffect> h;
    char text[16] = {};
    EffectBase& base = *h.effect;
    switch (c.conversion) {
      case Conversion::kDecibels:
        base.formatDecibels(c.value, text);
        break;
      case Conversion::kHertz:
        base.formatHertz(c.value, text);
        break;
      case Conversion::kMilliseconds:
        base.formatMilliseconds(c.value, text);
        break;
      default:
        FAIL();
    }
    EXPECT_STREQ(text, "derived");
    EXPECT_EQ(h.effect->received, c.received);
  }
}

}  // namespace
