#pragma once
// Kept for the files that include it by this name.
#include "test_support.h"
