#pragma once
// Owning handles for what GLib and libsecret hand out, released by their own
// functions when the handle goes.

#include <glib-object.h>
#include <libsecret/secret.h>

#include <memory>
#include <string>

#include "base/GObjectPtr.h"

namespace qm {

struct GHashTableRelease {
  void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct GObjectListRelease {
  void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
struct SecretValueRelease {
  void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct GFreeRelease {
  void operator()(gpointer memory) const { g_free(memory); }
};

using GHashTablePtr = std::unique_ptr<GHashTable, GHashTableRelease>;
using GObjectListPtr = std::unique_ptr<GList, GObjectListRelease>;
using SecretValuePtr = std::unique_ptr<SecretValue, SecretValueRelease>;
using GCharPtr = std::unique_ptr<gchar, GFreeRelease>;

// Where a GLib call puts its error; the handle owns it afterwards.
class GErrorSlot {
 public:
  GError** out() { return &error_; }
  ~GErrorSlot() {
    if (error_ != nullptr) g_error_free(error_);
  }
  GErrorSlot() = default;
  GErrorSlot(const GErrorSlot&) = delete;
  GErrorSlot& operator=(const GErrorSlot&) = delete;

  bool failed() const { return error_ != nullptr; }
  std::string message() const { return error_ != nullptr ? error_->message : ""; }

 private:
  GError* error_ = nullptr;
};

}  // namespace qm
