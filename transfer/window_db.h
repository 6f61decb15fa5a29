// Moved to screen/window_db.h, where the server chores reach it too.
#pragma once

#include "screen/window_db.h"
