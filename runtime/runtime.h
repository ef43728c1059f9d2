// The custom layer runtime: the record of the loaded layer, its settings and themes.
#pragma once

#include "runtime/custom_layer.h"
