#include "support/prodlist.h"
