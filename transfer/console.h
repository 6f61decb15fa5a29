// The screen interface lives in screen/console.h; the transfer handlers also
// walk the table catalogue through it, so both come in here.
#pragma once

#include "screen/console.h"
#include "transfer/catalogue.h"
