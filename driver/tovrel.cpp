#include "driver/tovrel.h"
