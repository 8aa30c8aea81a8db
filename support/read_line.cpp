#include "support/read_line.h"
