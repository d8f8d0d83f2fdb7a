#include "platform/linux/secret_service_paired_device_store.h"

#include <gio/gio.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace velopad {
namespace {

constexpr const char* busName = "org.freedesktop.secrets";
constexpr const char* servicePath = "/org/freedesktop/secrets";
constexpr const char* serviceInterface = "org.freedesktop.Secret.Service";
constexpr const char* collectionInterface = "org.freedesktop.Secret.Collection";
constexpr const char* itemInterface = "org.freedesktop.Secret.Item";
constexpr const char* promptInterface = "org.freedesktop.Secret.Prompt";
// Recorded like libsecret records its schema, so its tools see a familiar item.
constexpr const char* schemaName = "com.quentaro.harborlink.agent.PairedDevices";
constexpr int callTimeoutMs = 25000;
constexpr guint promptTimeoutSeconds = 120;

std::mutex& callLock() {
    static std::mutex lock;
    return lock;
}

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using Connection = std::unique_ptr<GDBusConnection, GObjectUnref>;
using Variant = std::unique_ptr<GVariant, VariantUnref>;

// Takes ownership of a GError and turns it into the exception.
[[noreturn]] void throwFailure(GError* error, const std::string& context) {
    const std::int32_t status = error != nullptr ? error->code : -1;
    std::string message = context;
    if (error != nullptr) {
        message += ": ";
        message += error->message;
        g_error_free(error);
    }
    throw SecretServiceFailure(status, message);
}

bool isRootPath(const char* path) { return path == nullptr || std::string_view(path) == "/"; }

// One conversation with the Secret Service: a private bus connection and a "plain" session.
class Conversation {
  public:
    Conversation() : connection_(connect()) {
        Variant reply = call(servicePath, serviceInterface, "OpenSession",
                             g_variant_new("(sv)", "plain", g_variant_new_string("")), "(vo)",
                             "The Secret Service did not answer");
        GVariant* output = nullptr;
        const char* session = nullptr;
        g_variant_get(reply.get(), "(v&o)", &output, &session);
        session_ = session;
        g_variant_unref(output);
    }
    ~Conversation() { g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr); }
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    // The paths of the items carrying exactly these attributes (and possibly more).
    std::vector<std::string> search(GVariant* attributes, bool unlockLocked) {
        Variant reply =
            call(servicePath, serviceInterface, "SearchItems",
                 g_variant_new("(@a{ss})", attributes), "(aoao)", "Could not search the keyring");
        std::vector<std::string> unlocked = paths(reply.get(), 0);
        std::vector<std::string> locked = paths(reply.get(), 1);
        if (!locked.empty() && unlockLocked) {
            for (std::string& path : unlock(locked)) unlocked.push_back(std::move(path));
        } else {
            for (std::string& path : locked) unlocked.push_back(std::move(path));
        }
        return unlocked;
    }

    std::string secretOf(const std::string& item) {
        Variant reply =
            call(item.c_str(), itemInterface, "GetSecret", g_variant_new("(o)", session_.c_str()),
                 "((oayays))", "Could not read the secret");
        Variant value(g_variant_get_child_value(reply.get(), 0));
        Variant bytes(g_variant_get_child_value(value.get(), 2));
        gsize length = 0;
        const auto* data =
            static_cast<const char*>(g_variant_get_fixed_array(bytes.get(), &length, 1));
        return std::string(data != nullptr ? data : "", length);
    }

    std::string defaultCollection() {
        Variant reply =
            call(servicePath, serviceInterface, "ReadAlias", g_variant_new("(s)", "default"), "(o)",
                 "Could not find the default keyring");
        const char* path = nullptr;
        g_variant_get(reply.get(), "(&o)", &path);
        if (isRootPath(path)) {
            throw SecretServiceFailure(G_IO_ERROR_NOT_FOUND, "There is no default keyring");
        }
        return path;
    }

    void createItem(const std::string& collection, GVariant* attributes, const std::string& label,
                    std::string_view secret) {
        unlock({collection});
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Label",
                              g_variant_new_string(label.c_str()));
        g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Attributes",
                              attributes);
        Variant reply =
            call(collection.c_str(), collectionInterface, "CreateItem",
                 g_variant_new("(a{sv}@(oayays)b)", &properties, secretValue(secret), TRUE), "(oo)",
                 "Could not store the secret");
        const char* item = nullptr;
        const char* prompt = nullptr;
        g_variant_get(reply.get(), "(&o&o)", &item, &prompt);
        if (isRootPath(item)) awaitPrompt(prompt);
    }

    void replaceSecret(const std::string& item, std::string_view secret) {
        call(item.c_str(), itemInterface, "SetSecret",
             g_variant_new("(@(oayays))", secretValue(secret)), nullptr,
             "Could not store the secret");
    }

    void deleteItem(const std::string& item) {
        Variant reply = call(item.c_str(), itemInterface, "Delete", nullptr, "(o)",
                             "Could not delete the secret");
        const char* prompt = nullptr;
        g_variant_get(reply.get(), "(&o)", &prompt);
        awaitPrompt(prompt);
    }

  private:
    // A floating (oayays) secret for this session.
    GVariant* secretValue(std::string_view secret) const {
        return g_variant_new(
            "(o@ay@ays)", session_.c_str(),
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, nullptr, 0, 1),
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, secret.data(), secret.size(), 1),
            "text/plain");
    }

    static Connection connect() {
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

    static std::vector<std::string> paths(GVariant* tuple, gsize index) {
        Variant list(g_variant_get_child_value(tuple, index));
        std::vector<std::string> result;
        GVariantIter iter;
        g_variant_iter_init(&iter, list.get());
        const char* path = nullptr;
        while (g_variant_iter_next(&iter, "&o", &path)) result.emplace_back(path);
        return result;
    }

    Variant call(const char* path, const char* interface, const char* method, GVariant* arguments,
                 const char* replyType, const std::string& context) {
        GError* error = nullptr;
        Variant reply(g_dbus_connection_call_sync(
            connection_.get(), busName, path, interface, method, arguments,
            replyType != nullptr ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NONE,
            callTimeoutMs, nullptr, &error));
        if (!reply) throwFailure(error, context);
        return reply;
    }

    // Unlocks the objects, through the desktop's prompt when the service asks for one.
    std::vector<std::string> unlock(const std::vector<std::string>& objects) {
        GVariantBuilder list;
        g_variant_builder_init(&list, G_VARIANT_TYPE("ao"));
        for (const std::string& object : objects) {
            g_variant_builder_add(&list, "o", object.c_str());
        }
        Variant reply = call(servicePath, serviceInterface, "Unlock", g_variant_new("(ao)", &list),
                             "(aoo)", "Could not unlock the keyring");
        std::vector<std::string> unlocked = paths(reply.get(), 0);
        const char* prompt = nullptr;
        g_variant_get_child(reply.get(), 1, "&o", &prompt);
        if (!isRootPath(prompt)) {
            Variant result = awaitPrompt(prompt);
            if (result && g_variant_is_of_type(result.get(), G_VARIANT_TYPE("ao"))) {
                GVariantIter iter;
                g_variant_iter_init(&iter, result.get());
                const char* path = nullptr;
                while (g_variant_iter_next(&iter, "&o", &path)) unlocked.emplace_back(path);
            }
        }
        return unlocked;
    }

    struct PromptOutcome {
        bool done = false;
        bool dismissed = true;
        Variant result;
        GMainLoop* loop = nullptr;
    };

    static void onCompleted(GDBusConnection*, const char*, const char*, const char*, const char*,
                            GVariant* parameters, gpointer data) {
        auto* outcome = static_cast<PromptOutcome*>(data);
        gboolean dismissed = TRUE;
        GVariant* result = nullptr;
        g_variant_get(parameters, "(bv)", &dismissed, &result);
        outcome->dismissed = dismissed != FALSE;
        outcome->result.reset(result);
        outcome->done = true;
        g_main_loop_quit(outcome->loop);
    }

    static gboolean onTimeout(gpointer data) {
        g_main_loop_quit(static_cast<PromptOutcome*>(data)->loop);
        return G_SOURCE_REMOVE;
    }

    // Shows the service's prompt and waits for the user's answer; none for the root path.
    Variant awaitPrompt(const char* prompt) {
        if (isRootPath(prompt)) return nullptr;
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        PromptOutcome outcome;
        outcome.loop = g_main_loop_new(context, FALSE);
        const guint subscription = g_dbus_connection_signal_subscribe(
            connection_.get(), busName, promptInterface, "Completed", prompt, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, onCompleted, &outcome, nullptr);
        GSource* timeout = g_timeout_source_new_seconds(promptTimeoutSeconds);
        g_source_set_callback(timeout, onTimeout, &outcome, nullptr);
        g_source_attach(timeout, context);

        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            connection_.get(), busName, prompt, promptInterface, "Prompt", g_variant_new("(s)", ""),
            nullptr, G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, &error);
        if (reply != nullptr) {
            g_variant_unref(reply);
            if (!outcome.done) g_main_loop_run(outcome.loop);
        }

        g_source_destroy(timeout);
        g_source_unref(timeout);
        g_dbus_connection_signal_unsubscribe(connection_.get(), subscription);
        g_main_loop_unref(outcome.loop);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);

        if (error != nullptr) throwFailure(error, "The keyring prompt failed");
        if (!outcome.done) {
            throw SecretServiceFailure(G_IO_ERROR_TIMED_OUT, "The keyring prompt was not answered");
        }
        if (outcome.dismissed) {
            throw SecretServiceFailure(G_IO_ERROR_CANCELLED, "The keyring prompt was dismissed");
        }
        return std::move(outcome.result);
    }

    Connection connection_;
    std::string session_;
};

}  // namespace

SecretServiceFailure::SecretServiceFailure(std::int32_t status, const std::string& message)
    : std::runtime_error(message), status_(status) {}

SecretServiceItem::SecretServiceItem(std::string service, std::string account, std::string label)
    : service_(std::move(service)), account_(std::move(account)), label_(std::move(label)) {}

namespace {
// A floating a{ss} value; consumed by the call it is passed to. Searches match on service and
// account alone, so an item written by another tool under the same names is found too.
GVariant* attributesOf(const std::string& service, const std::string& account, bool withSchema) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&builder, "{ss}", "service", service.c_str());
    g_variant_builder_add(&builder, "{ss}", "account", account.c_str());
    if (withSchema) g_variant_builder_add(&builder, "{ss}", "xdg:schema", schemaName);
    return g_variant_builder_end(&builder);
}
}  // namespace

bool SecretServiceItem::serviceAnswers() {
    std::lock_guard guard(callLock());
    try {
        Conversation conversation;
        return true;
    } catch (const SecretServiceFailure&) {
        return false;
    }
}

std::optional<std::string> SecretServiceItem::read() const {
    std::lock_guard guard(callLock());
    Conversation conversation;
    const std::vector<std::string> items =
        conversation.search(attributesOf(service_, account_, false), /*unlockLocked=*/true);
    if (items.empty()) return std::nullopt;
    return conversation.secretOf(items.front());
}

void SecretServiceItem::write(std::string_view secret) const {
    std::lock_guard guard(callLock());
    Conversation conversation;
    // Update in place when the item exists (one item only); create it otherwise.
    const std::vector<std::string> items =
        conversation.search(attributesOf(service_, account_, false), /*unlockLocked=*/true);
    if (items.empty()) {
        conversation.createItem(conversation.defaultCollection(),
                                attributesOf(service_, account_, true), label_, secret);
        return;
    }
    conversation.replaceSecret(items.front(), secret);
    for (std::size_t index = 1; index < items.size(); ++index)
        conversation.deleteItem(items[index]);
}

void SecretServiceItem::remove() const {
    std::lock_guard guard(callLock());
    Conversation conversation;
    for (const std::string& item :
         conversation.search(attributesOf(service_, account_, false), /*unlockLocked=*/false)) {
        conversation.deleteItem(item);
    }
}

}  // namespace velopad
