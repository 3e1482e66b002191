// A tool that reaches into the program's window layer: refused.
#pragma once
#include "app/Platform.h"
