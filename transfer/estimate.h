// Row counts of the ticked tables on the source side and the time estimate
// ("예상시간"). The copy run runs the same estimate before it opens its own
// connections, so the counts it and the field check rely on are fresh.
#pragma once

#include "transfer/console.h"
#include "transfer/services.h"

namespace brenvo {

// A catalogue count that could not be read: the table is neither taken for
// empty nor counted in the total.
inline constexpr int32_t kUnknownRowCount = -1;

// Opens the source of the selected direction, stores a count in every ticked
// entry, closes it. False when the source could not be opened. Ticked
// entries it could not count hold kUnknownRowCount, also after a failed
// opening.
bool GetTableInfo(Console& console, const TransferServices& services);

// The button: clears the pane, counts, logs the counts, the total and the
// estimate. True when every ticked table was counted.
bool btnTime_Click(Console& console, const TransferServices& services);

// Seconds the copy should take: total / rate + the run's fixed steps, a half
// to the even neighbour.
int32_t EstimateSeconds(long long totalRows, int rate, int fixedSeconds);
// Rows per second of this program's copy run by direction, "로컬계산" saying
// whether the CS server is the workstation's own (directions 0 and 1).
int CopyRate(int direction, bool local);
// Seconds of a run's steps that do not grow with the rows (opening both
// sides, counting, checking, emptying and committing table by table).
int FixedSeconds(int direction, bool local);

}  // namespace brenvo
