// Conversions the transfer code applies to values crossing from one database
// to the other, the way the host application's own run converts them.
#pragma once

#include <optional>
#include <string>

#include "db/ado/value.h"

namespace brenvo {

// A value as text: numbers in their shortest exact form, dates as
// "YYYY-MM-DD HH:MM:SS", Booleans as "1"/"0". Null gives nullopt.
std::optional<std::string> ValueToText(const ado::Value& v);

// What the copy stores for a source value in a target column of the given
// type code; nullopt leaves the column unset (the target's default). Text
// columns (adVarWChar) take the value as text; DATE columns (adDBDate) take
// neither the empty text nor the zero date; everything else goes unchanged.
std::optional<ado::Value> TargetValue(const ado::Value& v, int targetType);

// A value as a whole number (counts, versions): integers as they are,
// doubles truncated toward zero, text parsed. Throws when it is not a number.
long long ValueToInteger(const ado::Value& v);

// "HH:MM:SS" of a duration in seconds (hours may pass 99).
std::string FormatElapsed(long long seconds);
// The local time of day "HH:MM:SS".
std::string TimeOfDayText();

}  // namespace brenvo
