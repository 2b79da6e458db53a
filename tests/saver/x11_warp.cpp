// Input for the X tests without the XTest extension:
//   x11_warp X Y        moves the pointer to the root position (the server reports motion)
//   x11_warp key WINDOW [KEYCODE]  sends a key press and release (default keycode 38, "a")
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void SendKey(xcb_connection_t* c, xcb_window_t root, xcb_window_t w, uint8_t type, uint8_t key) {
    xcb_key_press_event_t e{};
    e.response_type = type;
    e.detail = key;
    e.time = XCB_CURRENT_TIME;
    e.root = root;
    e.event = w;
    e.child = XCB_NONE;
    e.same_screen = 1;
    char buf[32] = {};
    std::memcpy(buf, &e, sizeof e < sizeof buf ? sizeof e : sizeof buf);
    xcb_send_event(c, 1, w, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE, buf);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 4 && std::strcmp(argv[1], "key") == 0)) {
        std::fprintf(stderr, "usage: x11_warp X Y | x11_warp key WINDOW\n");
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 1;
    xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (std::strcmp(argv[1], "key") == 0) {
        const auto w = xcb_window_t(std::strtoul(argv[2], nullptr, 0));
        const auto key = uint8_t(argc == 4 ? std::atoi(argv[3]) : 38);
        SendKey(c, s->root, w, XCB_KEY_PRESS, key);
        SendKey(c, s->root, w, XCB_KEY_RELEASE, key);
    } else {
        xcb_warp_pointer(c, XCB_NONE, s->root, 0, 0, 0, 0, int16_t(std::atoi(argv[1])),
                         int16_t(std::atoi(argv[2])));
    }
    // A round trip before closing: requests written just before the connection goes away are
    // not all carried out by the server, so a key or a motion would be lost now and then.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
    return 0;
}
