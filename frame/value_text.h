// Fixed texts shared by the value-to-text conversions of EffectBase (value_text.cpp).
#pragma once

// Written for a number that does not fit its text.
constexpr char kHugeText[] = " Huge!  ";
// Written for a level of zero or below in decibels.
constexpr char kMinusInfinityText[] = "  -oo   ";
