#pragma once

#include "platform/look/ScreenFit.h"

// Where the X server has a window and the frame its window manager drew
// (_NET_FRAME_EXTENTS), read afresh each time, and a move asked of the
// server itself: Qt keeps a frame it read before the window manager framed
// the window, and a place the window manager never carried out. Each answers
// nothing when the program does not run on X11.
ScreenFit::WindowServer windowServerX11();
