#include "support/dir.h"
