#include "support/splitfld.h"
