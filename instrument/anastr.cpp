#include "anastr.h"

// Written only by the identification; false until an instrument reported them.
bool GinkgoOptA = false, GinkgoOptC = false, GinkgoOptD = false, GinkgoOptE = false;
bool PineOptA = false, PineOptB = false;
