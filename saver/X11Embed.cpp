#include "X11Embed.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <cstring>

namespace {

xcb_connection_t* Connection() {
    if (!X11Available()) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

}  // namespace

bool X11Available() { return qGuiApp && QGuiApplication::platformName() == "xcb"; }

std::string CurrentPlatformName() {
    return qGuiApp ? QGuiApplication::platformName().toStdString() : std::string("none");
}

bool X11WindowSize(uintptr_t Id, int& Width, int& Height) {
    xcb_connection_t* c = Connection();
    if (!c || Id == 0 || Id > 0xFFFFFFFFu) return false;
    const auto win = xcb_window_t(Id);
    // Window attributes exist only for windows; the geometry alone would accept a pixmap.
    xcb_generic_error_t* err = nullptr;
    xcb_get_window_attributes_reply_t* attr =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, win), &err);
    std::free(err);
    if (!attr) return false;
    std::free(attr);
    err = nullptr;
    xcb_get_geometry_reply_t* geo = xcb_get_geometry_reply(c, xcb_get_geometry(c, win), &err);
    std::free(err);
    if (!geo) return false;
    Width = geo->width;
    Height = geo->height;
    std::free(geo);
    return true;
}

uintptr_t X11RootWindow() {
    xcb_connection_t* c = Connection();
    if (!c) return 0;
    // The screen number of DISPLAY (":0.1" is screen 1); the first screen otherwise.
    int screen = 0;
    if (const char* d = std::getenv("DISPLAY")) {
        const char* colon = std::strrchr(d, ':');
        const char* dot = colon ? std::strchr(colon, '.') : nullptr;
        if (dot) screen = std::atoi(dot + 1);
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && it.rem > 1; ++i) xcb_screen_next(&it);
    return it.rem ? uintptr_t(it.data->root) : 0;
}

void X11EmbedInto(QWidget* Child, uintptr_t Parent) {
    Child->setAttribute(Qt::WA_NativeWindow);
    Child->winId();
    if (Parent == X11RootWindow()) {
        if (xcb_connection_t* c = Connection()) {
            const uint32_t on = 1;
            xcb_change_window_attributes(c, xcb_window_t(Child->winId()), XCB_CW_OVERRIDE_REDIRECT, &on);
            xcb_flush(c);
        }
    }
    // The foreign window object is kept for the rest of the process (one per run): the child's
    // own window still refers to it while it is destroyed.
    QWindow* foreign = QWindow::fromWinId(WId(Parent));
    Child->windowHandle()->setParent(foreign);
    Child->move(0, 0);
}

void X11SkipTaskbar(QWidget* Window) {
    xcb_connection_t* c = Connection();
    if (!c) return;
    const auto win = xcb_window_t(Window->winId());
    const xcb_atom_t state = Atom(c, "_NET_WM_STATE");
    const xcb_atom_t atoms[2] = {Atom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 Atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE || atoms[0] == XCB_ATOM_NONE) return;
    // On a window that is not mapped yet the property is the request; Qt adds its own states
    // to what it finds there when it maps the window.
    xcb_change_property(c, XCB_PROP_MODE_APPEND, win, state, XCB_ATOM_ATOM, 32, 2, atoms);
    xcb_flush(c);
}
