// The shape of a window or control: a rounded-rectangle region.
#pragma once

namespace plat {
class Control;
}

// Gives the window or control a rounded-rectangle shape whose corners are
// ellipses of cornerSize pixels; parts outside it are neither drawn nor hit.
// The shape follows the control when it is resized later.
void MakeRoundWindow(plat::Control &control, int cornerSize);
