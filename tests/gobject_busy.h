// A thread's work that goes through GLib's global locks all along, as a desktop's platform
// theme or a media library's threads do: GObjects made and dropped, type and quark look-ups.
// A process forked while it runs can find one of those locks taken for ever.
#pragma once

#include <glib-object.h>

#include <atomic>

inline void GObjectBusyLoop(const std::atomic<bool>& Stop) {
    for (unsigned i = 0; !Stop; ++i) {
        GObject* o = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
        g_object_freeze_notify(o);
        g_object_set_qdata(o, g_quark_from_string(i % 2 ? "gd-a" : "gd-b"), o);
        g_object_thaw_notify(o);
        g_object_unref(o);
        for (int k = 0; k < 100; ++k) {
            (void)g_type_from_name("GObject");
            (void)g_quark_try_string("gd-a");
        }
    }
}
