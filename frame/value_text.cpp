// The value-to-text conversions of EffectBase: decibels, hertz, milliseconds, a fixed-width
// number of 8 characters and a whole number. Each writes at most 9 bytes, terminator included.
#include "frame/value_text.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "frame/effect_base.h"

namespace {
constexpr int kWidth = 8;  // characters of a formatFloat text
}  // namespace

void EffectBase::formatDecibels(float value, char* text) {
  if (value <= 0.0f) {
    std::strcpy(text, kMinusInfinityText);
    return;
  }
  formatFloat(static_cast<float>(20.0 * std::log10(static_cast<double>(value))), text);
}

void EffectBase::formatHertz(float samples, char* text) {
  if (samples == 0.0f) {
    formatFloat(0.0f, text);
    return;
  }
  formatFloat(getSampleRate() / samples, text);
}

void EffectBase::formatMilliseconds(float samples, char* text) {
  formatFloat(static_cast<float>(static_cast<double>(samples) * 1000.0 /
                                 static_cast<double>(getSampleRate())),
              text);
}

// Exactly 8 characters: an optional minus sign, integer digits, a point and as many fraction
// digits as fit. Integer digits that do not fit are dropped from the left; fractions are cut, not
// rounded. All arithmetic in double.
void EffectBase::formatFloat(float value, char* text) {
  double v = value;
  const bool negative = v < 0.0;
  if (negative) v = -v;
  // A NaN would reach the integer conversions below: it does not fit either.
  if (std::isnan(v) || (negative && v > 9999999.0) || (!negative && v > 99999999.0)) {
    std::strcpy(text, kHugeText);
    return;
  }

  // Integer digits, produced from the right.
  char digits[kWidth];
  int numDigits = 0;
  double i = std::floor(v);
  digits[numDigits++] = static_cast<char>('0' + static_cast<int>(std::fmod(i, 10.0)));
  i = i / 10.0;
  int count = 2 + (negative ? 1 : 0);  // the last digit and the point, plus the sign
  while (i >= 1.0 && count < kWidth) {
    digits[numDigits++] = static_cast<char>('0' + static_cast<int>(std::fmod(i, 10.0)));
    i = i / 10.0;
    ++count;
  }

  char* out = text;
  if (negative) *out++ = '-';
  while (numDigits > 0)
    *out++ = digits[--numDigits];
  *out++ = '.';

  // Fraction digits, produced from the right; "0" once nothing is left.
  const int n = kWidth - count;
  double m = std::fmod(v, 1.0) * std::pow(10.0, n);
  for (int k = n - 1; k >= 0; --k) {
    if (m > 0.0) {
      out[k] = static_cast<char>('0' + static_cast<int>(std::fmod(m, 10.0)));
      m = m / 10.0;
    } else {
      out[k] = '0';
    }
  }
  out[n] = 0;
}

void EffectBase::formatInteger(int32_t value, char* text) {
  if (value >= 100000000) {
    std::strcpy(text, kHugeText);
    return;
  }
  char scratch[16];
  std::snprintf(scratch, sizeof(scratch), "%7d", static_cast<int>(value));
  scratch[kWidth] = 0;  // "%7d" of a negative value may take 11 characters
  std::strcpy(text, scratch);
}
