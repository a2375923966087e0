#include "platform/SecretServiceClient.h"

#include <libsecret/secret.h>

#include <memory>

namespace {

struct ErrorFree {
    void operator()(GError *error) const { g_error_free(error); }
};
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct HashTableUnref {
    void operator()(GHashTable *table) const { g_hash_table_unref(table); }
};
struct ValueUnref {
    void operator()(SecretValue *value) const { secret_value_unref(value); }
};
struct VariantUnref {
    void operator()(GVariant *variant) const { g_variant_unref(variant); }
};
struct ObjectListFree {
    void operator()(GList *list) const { g_list_free_full(list, g_object_unref); }
};

using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using ServicePtr = std::unique_ptr<SecretService, ObjectUnref>;
using CollectionPtr = std::unique_ptr<SecretCollection, ObjectUnref>;
using HashTablePtr = std::unique_ptr<GHashTable, HashTableUnref>;
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;
using ObjectListPtr = std::unique_ptr<GList, ObjectListFree>;

const SecretSchema &schema()
{
    // Built once; libsecret adds the schema name as the "xdg:schema"
    // attribute of every item and matches on it when searching.
    static const SecretSchema instance = [] {
        SecretSchema s {};
        s.name = "com.tolvenix.Velmora.Secret";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0].name = "service";
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        s.attributes[1].name = "account";
        s.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return instance;
}

bool isMissingService(const GError *error)
{
    if (error->domain != G_DBUS_ERROR)
        return false;
    switch (error->code) {
    case G_DBUS_ERROR_SERVICE_UNKNOWN:
    case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
    case G_DBUS_ERROR_NO_SERVER:
    case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
    case G_DBUS_ERROR_SPAWN_FORK_FAILED:
    case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
    case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
    case G_DBUS_ERROR_SPAWN_FAILED:
    case G_DBUS_ERROR_SPAWN_SETUP_FAILED:
    case G_DBUS_ERROR_SPAWN_CONFIG_INVALID:
    case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
    case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
    case G_DBUS_ERROR_SPAWN_PERMISSIONS_INVALID:
    case G_DBUS_ERROR_SPAWN_FILE_INVALID:
    case G_DBUS_ERROR_SPAWN_NO_MEMORY:
        return true;
    default:
        return false;
    }
}

QString systemMessage(const GError *error)
{
    // Drop the "GDBus.Error:org.freedesktop…: " prefix of remote errors.
    ErrorPtr copy(g_error_copy(error));
    g_dbus_error_strip_remote_error(copy.get());
    return QString::fromUtf8(copy->message);
}

// How a libsecret/GLib failure reads to the user. The mapping:
//   - G_IO_ERROR_CANCELLED: a keyring prompt was dismissed or cancelled
//     → userDenied. (An unlock that ends with the item or collection still
//     locked is the same dismissal; it is detected and reported as userDenied
//     where it happens, in lookup and in unlockDefaultCollection.)
//   - SECRET_ERROR_IS_LOCKED: the collection or item is locked and the
//     service would not unlock it without a prompt → interactionNotAllowed.
//   - G_DBUS_ERROR_ACCESS_DENIED, G_DBUS_ERROR_AUTH_FAILED: the bus or the
//     service refused the request → authFailed.
//   - No Secret Service: no session bus, or nothing owns and nothing can be
//     started for org.freedesktop.secrets, and every failure to open the
//     service in the first place → unhandled(noSecretServiceStatus).
//   - Everything else → unhandled with the GError's code.
// The GLib message goes along as the system message; it never holds a
// secret, since secrets travel only inside SecretValues.
KeychainError toKeychainError(const GError *error, bool whileConnecting = false)
{
    using Case = KeychainError::Case;
    const QString message = systemMessage(error);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        return KeychainError(Case::userDenied, error->code, message);
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED))
        return KeychainError(Case::interactionNotAllowed, error->code, message);
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED)
        || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_AUTH_FAILED))
        return KeychainError(Case::authFailed, error->code, message);
    if (whileConnecting || isMissingService(error))
        return KeychainError::unhandled(KeychainError::noSecretServiceStatus, message);
    return KeychainError::unhandled(error->code, message);
}

[[noreturn]] void fail(GError *error, bool whileConnecting = false)
{
    const ErrorPtr owned(error);
    throw toKeychainError(owned.get(), whileConnecting);
}

ServicePtr openService()
{
    GError *error = nullptr;
    ServicePtr service(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error));
    if (error)
        fail(error, true);
    if (!service)
        throw KeychainError::unhandled(KeychainError::noSecretServiceStatus);
    return service;
}

// Asked of the bus itself, so that no Secret Service is started by asking: a
// service that is activatable but never comes up would hold the call until the
// bus gives up on it.
bool serviceIsRunning()
{
    GError *connectError = nullptr;
    const std::unique_ptr<GDBusConnection, ObjectUnref> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &connectError));
    if (const ErrorPtr owned(connectError); owned)
        return false;
    GError *callError = nullptr;
    const std::unique_ptr<GVariant, VariantUnref> reply(
        g_dbus_connection_call_sync(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"),
                                    G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &callError));
    if (const ErrorPtr owned(callError); owned)
        return false;
    gboolean running = false;
    g_variant_get(reply.get(), "(b)", &running);
    return running;
}

// The attribute table points into the caller's UTF-8 buffers, which must
// outlive it.
HashTablePtr attributes(const QByteArray &service, const QByteArray *account)
{
    HashTablePtr table(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(table.get(), const_cast<char *>("service"), const_cast<char *>(service.constData()));
    if (account)
        g_hash_table_insert(table.get(), const_cast<char *>("account"), const_cast<char *>(account->constData()));
    return table;
}

// Unlocks the default collection first, so that a dismissed unlock prompt is
// told apart from success: libsecret would otherwise hand the locked state
// to the store call in ways that differ between services.
void unlockDefaultCollection(SecretService *service)
{
    GError *error = nullptr;
    CollectionPtr collection(
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error));
    if (error)
        fail(error);
    if (!collection || !secret_collection_get_locked(collection.get()))
        return; // no default collection yet: the store creates one
    GList objects {};
    objects.data = collection.get();
    GList *unlocked = nullptr;
    const gint count = secret_service_unlock_sync(service, &objects, nullptr, &unlocked, &error);
    g_list_free_full(unlocked, g_object_unref);
    if (error)
        fail(error);
    if (count == 0)
        throw KeychainError(KeychainError::Case::userDenied);
}

} // namespace

SecretServiceClient::SecretServiceClient(const QString &service)
    : m_service(service.toUtf8())
{}

void SecretServiceClient::store(const QString &account, QByteArrayView secret, Content content,
                                const QString &label) const
{
    const ServicePtr service = openService();
    unlockDefaultCollection(service.get());
    const QByteArray accountBytes = account.toUtf8();
    const HashTablePtr table = attributes(m_service, &accountBytes);
    // secret_value_new copies the bytes into memory that libsecret wipes on release.
    const ValuePtr value(secret_value_new(secret.data(), static_cast<gssize>(secret.size()),
                                          content == Content::text ? "text/plain" : "application/octet-stream"));
    GError *error = nullptr;
    const bool stored = secret_service_store_sync(service.get(), &schema(), table.get(), SECRET_COLLECTION_DEFAULT,
                                                  label.toUtf8().constData(), value.get(), nullptr, &error);
    if (error)
        fail(error);
    if (!stored)
        throw KeychainError::unhandled(0);
}

std::optional<SensitiveBytes> SecretServiceClient::lookup(const QString &account) const
{
    const ServicePtr service = openService();
    const QByteArray accountBytes = account.toUtf8();
    const HashTablePtr table = attributes(m_service, &accountBytes);
    GError *error = nullptr;
    const ObjectListPtr items(secret_service_search_sync(
        service.get(), &schema(), table.get(),
        static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS), nullptr, &error));
    if (error)
        fail(error);
    if (!items)
        return std::nullopt;
    auto *item = static_cast<SecretItem *>(items->data);
    if (secret_item_get_locked(item))
        throw KeychainError(KeychainError::Case::userDenied);
    ValuePtr value(secret_item_get_secret(item));
    if (!value) {
        if (!secret_item_load_secret_sync(item, nullptr, &error) && error)
            fail(error);
        value.reset(secret_item_get_secret(item));
        if (!value)
            throw KeychainError::unhandled(0);
    }
    gsize length = 0;
    const gchar *bytes = secret_value_get(value.get(), &length);
    return SensitiveBytes(QByteArrayView(bytes, static_cast<qsizetype>(length)));
}

void SecretServiceClient::clear(const QString &account) const
{
    const ServicePtr service = openService();
    const QByteArray accountBytes = account.toUtf8();
    const HashTablePtr table = attributes(m_service, &accountBytes);
    GError *error = nullptr;
    secret_service_clear_sync(service.get(), &schema(), table.get(), nullptr, &error);
    if (error)
        fail(error);
}

QStringList SecretServiceClient::accounts() const
{
    if (!serviceIsRunning())
        return {};
    const ServicePtr service = openService();
    const HashTablePtr table = attributes(m_service, nullptr);
    GError *error = nullptr;
    const ObjectListPtr items(
        secret_service_search_sync(service.get(), &schema(), table.get(), SECRET_SEARCH_ALL, nullptr, &error));
    if (error)
        fail(error);
    QStringList result;
    for (GList *node = items.get(); node; node = node->next) {
        const HashTablePtr itemAttributes(secret_item_get_attributes(static_cast<SecretItem *>(node->data)));
        if (!itemAttributes)
            continue;
        const auto *value = static_cast<const char *>(g_hash_table_lookup(itemAttributes.get(), "account"));
        if (value)
            result.append(QString::fromUtf8(value));
    }
    return result;
}
