// The X11 side of the preview and of the slideshow's missing taskbar button. Everything here
// needs the xcb platform; callers check X11Available() first.
#pragma once

#include <cstdint>
#include <string>

class QWidget;

bool X11Available();
std::string CurrentPlatformName();

// Size of the X11 window with this id; false when the id names no window (a pixmap, a
// destroyed window, garbage).
bool X11WindowSize(uintptr_t Id, int& Width, int& Height);

// Makes Child's native window a child of the foreign window Parent, at 0, 0.
void X11EmbedInto(QWidget* Child, uintptr_t Parent);

// Keeps the top-level window out of the taskbar and pager; call before it is first shown.
void X11SkipTaskbar(QWidget* Window);
