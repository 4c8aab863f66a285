#pragma once

#include <juce_core/juce_core.h>

#include <optional>

// The number at the start of a text, read as the framework's own reader reads ordinary text:
// leading whitespace, a sign, digits with a decimal point, an exponent, "nan" and "inf" in
// any case; "3abc" is 3. None where that reader finds no number and gives 0 ("", "abc",
// "-", "."). Unlike that reader, it stays within bounds for any run of digits: a number
// beyond double range is an infinity of its sign, one too small for it a zero.
std::optional<double> numberAtStartOf (const juce::String& text) noexcept;
