#include "secrets/KeyringSecretStore.h"

#include <gio/gio.h>

#include <utility>

#include "base/Failure.h"
#include "secrets/GLibHandles.h"
#include "secrets/SessionBus.h"

namespace qm {
namespace {

constexpr char kServiceName[] = "org.freedesktop.secrets";
constexpr char kServicePath[] = "/org/freedesktop/secrets";

// Constant data that libsecret reads; it is never changed.
const SecretSchema kMailSchema = {"com.vantrel.Quillmar.Mail",
                                  SECRET_SCHEMA_NONE,
                                  {{"store", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                   {"kind", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                   {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                  0,
                                  nullptr,
                                  nullptr,
                                  nullptr,
                                  nullptr,
                                  nullptr,
                                  nullptr,
                                  nullptr};

Failure KeyringFailure(const std::string& what, const GErrorSlot* error = nullptr) {
  std::string text = "the desktop keyring " + what;
  if (error != nullptr && error->failed()) text += ": " + error->message();
  return Failure(FailureKind::SignOn, Cause::kLoginRefused, text);
}

Failure LockedFailure() {
  return KeyringFailure(
      "is locked: unlock it (log in to the desktop, or open it in the keyring manager) and try "
      "again");
}

// The attribute table of one item; it borrows the texts it points to.
GHashTablePtr Attributes(SecretKind kind, const std::string& store) {
  GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
  g_hash_table_insert(table, const_cast<char*>("store"), const_cast<char*>(store.c_str()));
  g_hash_table_insert(table, const_cast<char*>("kind"), const_cast<char*>(SecretKindName(kind)));
  return GHashTablePtr(table);
}

// A short call to the service: it answers at once when it runs, and the bus
// starts it when it can be started, within the time limit either way.
bool ServiceAnswers(GDBusConnection* bus) {
  GErrorSlot error;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, kServiceName, kServicePath, "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
      G_DBUS_CALL_FLAGS_NONE, static_cast<int>(kSecretServiceAnswerLimit.count()), nullptr,
      error.out());
  if (reply == nullptr) return false;
  g_variant_unref(reply);
  return true;
}

}  // namespace

// The Secret Service and the calls made to it. None of them prompts.
class KeyringSecretStore::Service {
 public:
  explicit Service(GObjectPtr<SecretService> service) : service_(std::move(service)) {}

  GObjectListPtr Items(SecretKind kind, const std::string& store, SecretSearchFlags flags) {
    const GHashTablePtr attributes = Attributes(kind, store);
    GErrorSlot error;
    GList* items = secret_service_search_sync(service_.get(), &kMailSchema, attributes.get(), flags,
                                              nullptr, error.out());
    if (error.failed()) throw KeyringFailure("cannot be searched", &error);
    return GObjectListPtr(items);
  }

  // Nothing when the service has no default collection.
  GObjectPtr<SecretCollection> DefaultCollection(GErrorSlot& error) {
    return GObjectPtr<SecretCollection>(secret_collection_for_alias_sync(
        service_.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, error.out()));
  }

  GObjectPtr<SecretCollection> UnlockedDefaultCollection() {
    GErrorSlot error;
    GObjectPtr<SecretCollection> collection = DefaultCollection(error);
    if (!collection) throw KeyringFailure("has no default keyring to keep the secret in", &error);
    if (secret_collection_get_locked(collection.get())) throw LockedFailure();
    return collection;
  }

 private:
  GObjectPtr<SecretService> service_;
};

std::unique_ptr<KeyringSecretStore> KeyringSecretStore::Connect(
    std::unique_ptr<FileSecretStore> file) {
  if (!SessionBusAddressKnown()) return nullptr;
  GErrorSlot bus_error;
  GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, bus_error.out()));
  if (!bus || !ServiceAnswers(bus.get())) return nullptr;
  GErrorSlot error;
  GObjectPtr<SecretService> service(secret_service_open_sync(
      SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, nullptr, error.out()));
  if (!service) return nullptr;
  return std::unique_ptr<KeyringSecretStore>(
      new KeyringSecretStore(std::make_unique<Service>(std::move(service)), std::move(file)));
}

KeyringSecretStore::KeyringSecretStore(std::unique_ptr<Service> service,
                                       std::unique_ptr<FileSecretStore> file)
    : service_(std::move(service)), file_(std::move(file)) {}

KeyringSecretStore::~KeyringSecretStore() = default;

std::optional<std::string> KeyringSecretStore::ReadKeyringOnly(SecretKind kind,
                                                               const std::string& store) {
  const GObjectListPtr items = service_->Items(kind, store, SECRET_SEARCH_LOAD_SECRETS);
  if (!items) return std::nullopt;
  auto* item = static_cast<SecretItem*>(items->data);
  if (secret_item_get_locked(item)) throw LockedFailure();
  const SecretValuePtr value(secret_item_get_secret(item));
  if (!value) throw KeyringFailure("did not hand out the " + std::string(SecretKindName(kind)));
  gsize length = 0;
  const gchar* bytes = secret_value_get(value.get(), &length);
  return std::string(bytes, length);
}

std::optional<std::string> KeyringSecretStore::Read(SecretKind kind, const std::string& store) {
  if (std::optional<std::string> secret = ReadKeyringOnly(kind, store)) return secret;
  return file_ ? file_->Read(kind, store) : std::nullopt;
}

void KeyringSecretStore::Write(SecretKind kind, const std::string& store,
                               const std::string& secret) {
  const GObjectPtr<SecretCollection> collection = service_->UnlockedDefaultCollection();
  const GHashTablePtr attributes = Attributes(kind, store);
  const std::string label = "Quillmar: " + std::string(SecretKindName(kind)) + " for " + store;
  // libsecret copies the secret into memory of its own, which it wipes.
  const SecretValuePtr value(
      secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain"));
  GErrorSlot error;
  const GObjectPtr<SecretItem> item(
      secret_item_create_sync(collection.get(), &kMailSchema, attributes.get(), label.c_str(),
                              value.get(), SECRET_ITEM_CREATE_REPLACE, nullptr, error.out()));
  if (!item) throw KeyringFailure("refused to keep the secret", &error);
  // The keyring holds it now: the copy in the settings file goes.
  if (file_) file_->Erase(kind, store);
}

void KeyringSecretStore::Erase(SecretKind kind, const std::string& store) {
  const GObjectListPtr items = service_->Items(kind, store, SECRET_SEARCH_ALL);
  for (GList* entry = items.get(); entry != nullptr; entry = entry->next) {
    auto* item = static_cast<SecretItem*>(entry->data);
    if (secret_item_get_locked(item)) throw LockedFailure();
    GErrorSlot error;
    if (!secret_item_delete_sync(item, nullptr, error.out())) {
      throw KeyringFailure("refused to forget the secret", &error);
    }
  }
  if (file_) file_->Erase(kind, store);
}

std::string KeyringSecretStore::Where() const {
  GErrorSlot error;
  const GObjectPtr<SecretCollection> collection = service_->DefaultCollection(error);
  const GCharPtr label(collection ? secret_collection_get_label(collection.get()) : nullptr);
  return label && *label ? std::string(label.get()) : std::string("default");
}

}  // namespace qm
