#pragma once
// The number parse of the tools' options and targets: the whole text as decimal digits (leading
// zeros allowed), with one '.' where a fraction is allowed; no sign, blank or exponent. The
// settings' integer parse (config/IntParse.h) is a rule of its own.

#include <optional>
#include <string_view>

enum class TFraction { Refused, Allowed };

// The number the text writes, when it lies within [minimum, maximum].
std::optional<double> ParseNumber(std::string_view text, double minimum, double maximum,
                                  TFraction fraction = TFraction::Refused);

// A whole number within [minimum, maximum].
std::optional<int> ParseWholeNumber(std::string_view text, int minimum, int maximum);
