#include "db/jet/jet_errors.h"
