// The custom layer runtime: the record of the loaded layer, its compiled image, loading and
// running it, and the foreign routines compiled code calls.
#pragma once

#include "runtime/custom_layer.h"
#include "compiler/bytecode/layer_image.h"
#include "runtime/foreign_routines.h"
#include "runtime/layer_loader.h"
