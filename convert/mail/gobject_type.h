// Our GMime subclasses are plain C structs registered with GObject by hand.
#pragma once

#include <glib-object.h>

namespace korvel::convert {

// Registers a static GObject type: Instance and Class are its C structs,
// class_init fills in the class's methods. Call once (from a function-local
// static): GObject refuses a name registered twice.
template <typename Instance, typename Class>
GType register_static_type(GType parent, const char *name, GClassInitFunc class_init)
{
    GTypeInfo info{};
    info.class_size = sizeof(Class);
    info.class_init = class_init;
    info.instance_size = sizeof(Instance);
    return g_type_register_static(parent, name, &info, static_cast<GTypeFlags>(0));
}

} // namespace korvel::convert
