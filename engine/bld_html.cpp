#include "engine/bld_html.h"
