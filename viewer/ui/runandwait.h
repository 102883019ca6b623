// The RAW converter run with the window's hourglass, the window kept alive
// while it works.
#pragma once

#include "viewer/rawconv.h"

// Runs the converter command and waits at most limitMs (the hourglass shows
// meanwhile); a converter that fails or hangs sets ConverterFailed and is
// ended, alone. True when it wrote its picture.
bool RunAndWait(const ConverterCommand &command, int limitMs);
