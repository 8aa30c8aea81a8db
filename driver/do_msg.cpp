#include "driver/do_msg.h"
