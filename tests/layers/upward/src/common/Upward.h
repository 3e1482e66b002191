// A shared basic that reaches up into the drawing: the layer check must
// refuse it.
#pragma once

#include "render/Scene.h"
