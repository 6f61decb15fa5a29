// Values going into a Decimal (Numeric) column: any number or numeric text
// brought to the column's scale and checked against its precision, then
// the 17 stored bytes (layout in column_value.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "db/ado/value.h"

namespace brenvo::jet {

using DecimalBytes = std::array<uint8_t, 17>;

// Digits beyond the scale are rounded half away from zero (1.245 at scale 2
// is 1.25, -1.245 is -1.25). A value needing more than precision digits
// after that is refused with Jet's "Numeric field overflow."; text that is
// no number and values of other kinds with its type mismatch.
DecimalBytes EncodeDecimal(const ado::Value& v, int precision, int scale);

}  // namespace brenvo::jet
