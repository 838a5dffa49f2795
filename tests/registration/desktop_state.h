#pragma once
// The screen-saver state every area's tests share now lives with the other shared helpers.
#include "tests/support/desktop_state.h"
