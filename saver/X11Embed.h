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

// The root window of the default screen; 0 when not on X11.
uintptr_t X11RootWindow();

// Makes Child's native window a child of the foreign window Parent, at 0, 0. Into the root
// window it goes unmanaged (override-redirect): the show covers the screen the way a saver
// drawing on the root window does, and the window manager leaves it alone.
void X11EmbedInto(QWidget* Child, uintptr_t Parent);

// Keeps the top-level window out of the taskbar and pager; call before it is first shown.
void X11SkipTaskbar(QWidget* Window);
