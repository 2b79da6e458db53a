// Test helper: an X11 window for the preview to live in. Prints
// "window <id> pixmap <id>" once the window is mapped, then obeys stdin:
// "destroy" destroys the window and prints "destroyed"; end of input ends the helper.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const uint16_t w = argc > 2 ? uint16_t(std::atoi(argv[1])) : 320;
    const uint16_t h = argc > 2 ? uint16_t(std::atoi(argv[2])) : 200;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t win = xcb_generate_id(c);
    const uint32_t values[] = {screen->white_pixel};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, win, screen->root, 10, 10, w, h, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
    xcb_map_window(c, win);
    const xcb_pixmap_t pix = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pix, win, 8, 8);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));   // round trip
    std::printf("window %u pixmap %u\n", win, pix);
    std::fflush(stdout);

    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "destroy") {
            xcb_destroy_window(c, win);
            std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
            std::printf("destroyed\n");
            std::fflush(stdout);
        }
    }
    xcb_disconnect(c);
    return 0;
}
