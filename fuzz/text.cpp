#include "harness.h"

ORVEX_FUZZ_FAMILY("text")
