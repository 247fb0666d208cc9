// The one definition of the interface identifiers.
#define KOLVANE_INIT_IIDS
#include "kolvane/kolvane.h"
