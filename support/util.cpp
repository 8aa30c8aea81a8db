#include "support/util.h"
