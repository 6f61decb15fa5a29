// The text rules the old forms applied, one helper each. Where two parts of
// the program follow different rules, each rule is a named variant here.
#pragma once

#include <string>
#include <string_view>

namespace brenvo {

// Leading and trailing blanks (spaces only) removed, as the forms' Trim:
// tabs and line breaks at the edges stay.
std::string TrimSpaces(std::string_view s);

// Leading and trailing white space removed: blanks, tabs, line breaks,
// vertical tabs and form feeds. For text from files and connection strings.
std::string TrimWhitespace(std::string_view s);

// The number at the start of a text as the forms' Val read it: leading
// blanks, tabs and line breaks skipped, an optional sign, digits with at
// most one decimal point; reading stops at the first other character and
// nothing readable is 0. "1", " 1", "1.0", "1abc" are all 1.
double LeadingNumber(std::string_view s);

// LeadingNumber rounded to a 32-bit whole number with halves going to the
// even neighbour (2.5 -> 2, 3.5 -> 4). Past 32 bits: error 6 "Overflow".
int LeadingWholeNumber(std::string_view s);

}  // namespace brenvo
