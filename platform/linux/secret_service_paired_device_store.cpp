#include "platform/linux/secret_service_paired_device_store.h"

#include <gio/gio.h>
#include <libsecret/secret.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

namespace velopad {
namespace {

constexpr const char* secretServiceBusName = "org.freedesktop.secrets";
constexpr const char* secretServicePath = "/org/freedesktop/secrets";
constexpr const char* secretServiceInterface = "org.freedesktop.Secret.Service";

const SecretSchema* pairedDeviceSchema() {
    static const SecretSchema schema = {
        "com.quentaro.harborlink.agent.PairedDevices",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
    };
    return &schema;
}

std::mutex& callLock() {
    static std::mutex lock;
    return lock;
}

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct SecretValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using Connection = std::unique_ptr<GDBusConnection, GObjectUnref>;
using Service = std::unique_ptr<SecretService, GObjectUnref>;
using Attributes = std::unique_ptr<GHashTable, HashTableUnref>;
using Value = std::unique_ptr<SecretValue, SecretValueUnref>;

// Takes ownership of a GError and turns it into the exception.
[[noreturn]] void throwFailure(GError* error, const char* context) {
    const std::int32_t status = error != nullptr ? error->code : -1;
    std::string message = context;
    if (error != nullptr) {
        message += ": ";
        message += error->message;
        g_error_free(error);
    }
    throw SecretServiceFailure(status, message);
}

// A private connection: closing or losing it never ends the process.
Connection connectToSessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || address[0] == '\0') {
        throw SecretServiceFailure(G_IO_ERROR_NOT_FOUND, "No session bus address is set");
    }
    GError* error = nullptr;
    Connection connection(g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error));
    if (!connection) throwFailure(error, "Could not connect to the session bus");
    g_dbus_connection_set_exit_on_close(connection.get(), FALSE);
    return connection;
}

// A Secret Service proxy on `connection` with an open session for transferring secrets.
Service openService(GDBusConnection* connection) {
    GError* error = nullptr;
    auto* object = g_initable_new(
        SECRET_TYPE_SERVICE, nullptr, &error, "g-flags", G_DBUS_PROXY_FLAGS_NONE, "g-connection",
        connection, "g-name", secretServiceBusName, "g-object-path", secretServicePath,
        "g-interface-name", secretServiceInterface, "flags", SECRET_SERVICE_OPEN_SESSION, nullptr);
    if (object == nullptr) throwFailure(error, "The Secret Service did not answer");
    return Service(SECRET_SERVICE(object));
}

void closeConnection(GDBusConnection* connection) {
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
}

// Runs `operation(service)` on a fresh connection and session, then closes the connection.
template <class Operation>
auto withService(Operation operation) {
    std::lock_guard guard(callLock());
    Connection connection = connectToSessionBus();
    struct Closer {
        GDBusConnection* connection;
        ~Closer() { closeConnection(connection); }
    } closer{connection.get()};
    Service service = openService(connection.get());
    return operation(service.get());
}

}  // namespace

SecretServiceFailure::SecretServiceFailure(std::int32_t status, const std::string& message)
    : std::runtime_error(message), status_(status) {}

SecretServiceItem::SecretServiceItem(std::string service, std::string account, std::string label)
    : service_(std::move(service)), account_(std::move(account)), label_(std::move(label)) {}

bool SecretServiceItem::serviceAnswers() {
    try {
        return withService([](SecretService*) { return true; });
    } catch (const SecretServiceFailure&) {
        return false;
    }
}

namespace {
Attributes makeAttributes(const std::string& service, const std::string& account) {
    Attributes attributes(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    g_hash_table_insert(attributes.get(), g_strdup("service"), g_strdup(service.c_str()));
    g_hash_table_insert(attributes.get(), g_strdup("account"), g_strdup(account.c_str()));
    return attributes;
}
}  // namespace

std::optional<std::string> SecretServiceItem::read() const {
    return withService([&](SecretService* secretService) -> std::optional<std::string> {
        Attributes attributes = makeAttributes(service_, account_);
        GError* error = nullptr;
        Value value(secret_service_lookup_sync(secretService, pairedDeviceSchema(),
                                               attributes.get(), nullptr, &error));
        if (error != nullptr) throwFailure(error, "Could not read the secret");
        if (!value) return std::nullopt;
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.get(), &length);
        return std::string(bytes, length);
    });
}

void SecretServiceItem::write(std::string_view secret) const {
    withService([&](SecretService* secretService) {
        Attributes attributes = makeAttributes(service_, account_);
        Value value(secret_value_new(secret.data(), static_cast<gssize>(secret.size()),
                                     "text/plain"));
        GError* error = nullptr;
        const gboolean stored = secret_service_store_sync(
            secretService, pairedDeviceSchema(), attributes.get(), SECRET_COLLECTION_DEFAULT,
            label_.c_str(), value.get(), nullptr, &error);
        if (!stored) throwFailure(error, "Could not store the secret");
        return true;
    });
}

void SecretServiceItem::remove() const {
    withService([&](SecretService* secretService) {
        Attributes attributes = makeAttributes(service_, account_);
        GError* error = nullptr;
        // FALSE without an error means there was nothing to delete.
        secret_service_clear_sync(secretService, pairedDeviceSchema(), attributes.get(), nullptr,
                                  &error);
        if (error != nullptr) throwFailure(error, "Could not delete the secret");
        return true;
    });
}

}  // namespace velopad
