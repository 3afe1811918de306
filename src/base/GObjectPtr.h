#pragma once
// An owning handle for a GObject (GLib's reference-counted objects, which
// GMime and libsecret hand out): one reference, dropped when the handle goes.
// Header only: a library that includes it links GLib itself.

#include <glib-object.h>

#include <memory>

namespace qm {

struct GObjectRelease {
  void operator()(gpointer object) const { g_object_unref(object); }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectRelease>;

}  // namespace qm
