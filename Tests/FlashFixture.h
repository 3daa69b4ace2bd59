// Kept for the tests that include this name: the fixture is in UtilityFixture.h.
#include "UtilityFixture.h"
