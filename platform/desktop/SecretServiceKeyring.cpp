// GLib's headers use "signals" as a name, which the toolkit defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "platform/desktop/SecretServiceKeyring.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QTimer>
#include <cstdio>
#include <exception>

namespace {
// The entries' schema: what the keyring's own manager and `secret-tool`
// find them by.
const SecretSchema* Schema()
{
    static const SecretSchema schema = {"local.chronel.timer.Password",
                                        SECRET_SCHEMA_NONE,
                                        {{"base-url", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

SecretAnswer Answered(SecretStatus status, std::string reason = {})
{
    SecretAnswer a;
    a.status = status;
    a.reason = std::move(reason);
    return a;
}

// What an error means to the user. The D-Bus error's own name is left out.
SecretAnswer FromError(GError* error, bool reachingService)
{
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) return Answered(SecretStatus::Locked, kKeyringLockedReason);
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
        return Answered(SecretStatus::NoKeyring, "no keyring service is running");
    GError* copy = g_error_copy(error);
    if (g_dbus_error_is_remote_error(copy)) g_dbus_error_strip_remote_error(copy);
    std::string text = copy->message ? copy->message : "unknown error";
    g_error_free(copy);
    // Without a session bus there is nothing to reach a keyring through.
    if (reachingService) return Answered(SecretStatus::NoKeyring, "the session bus cannot be reached (" + text + ")");
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT))
        return Answered(SecretStatus::Failed, "the keyring did not answer (" + text + ")");
    return Answered(SecretStatus::Failed, text);
}

bool RunsGlibLoop()
{
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()
                                                                                  ? QCoreApplication::instance()->thread()
                                                                                  : nullptr);
    return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
}
}  // namespace

// One request on its way through libsecret's steps.
struct SecretServiceKeyring::Call {
    enum class Kind { Probe, Read, Store, Delete };
    Kind kind;
    SecretKey key;
    std::string password;
    Answer answer;
    SecretServiceKeyring* owner = nullptr;  // null once the owner is gone
    GCancellable* cancellable = g_cancellable_new();
    SecretService* service = nullptr;
    SecretCollection* collection = nullptr;
    GHashTable* attributes = nullptr;
    bool unlockTried = false;

    Call(Kind k, SecretKey sk, Answer a) : kind(k), key(std::move(sk)), answer(std::move(a))
    {
        attributes = secret_attributes_build(Schema(), "base-url", key.baseUrl.c_str(), "user", key.user.c_str(),
                                             nullptr);
    }
    ~Call()
    {
        // The password leaves no copy behind in freed memory.
        std::fill(password.begin(), password.end(), '\0');
        if (attributes) g_hash_table_unref(attributes);
        if (collection) g_object_unref(collection);
        if (service) g_object_unref(service);
        g_object_unref(cancellable);
    }

    // Ends the call: answers (unless the owner is gone) and frees it.
    static void Finish(Call* call, const SecretAnswer& answer)
    {
        SecretServiceKeyring* owner = call->owner;
        if (owner) {
            owner->calls_.erase(call);
            if (owner->glibPump_ && owner->calls_.empty()) owner->glibPump_->stop();
            try {
                if (call->answer) call->answer(answer);
            } catch (const std::exception& e) {
                // Nothing may unwind through the library's frames.
                std::fprintf(stderr, "ChronelGui: keyring answer: %s\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "ChronelGui: keyring answer failed\n");
            }
        }
        delete call;
    }

    // A step's error ends the call; a cancelled one ends it silently.
    static bool Failed(Call* call, GError* error, bool reachingService = false)
    {
        if (!error) return false;
        if (call->owner && !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
            Finish(call, FromError(error, reachingService));
        else
            Finish(call, {});
        g_error_free(error);
        return true;
    }

    static void OnService(GObject*, GAsyncResult* result, gpointer data)
    {
        auto* call = static_cast<Call*>(data);
        GError* error = nullptr;
        call->service = secret_service_get_finish(result, &error);
        if (Failed(call, error, true)) return;
        switch (call->kind) {
        case Kind::Probe:
        case Kind::Store:
            secret_collection_for_alias(call->service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
                                        call->cancellable, &Call::OnCollection, call);
            break;
        case Kind::Read:
        case Kind::Delete: Search(call); break;
        }
    }

    static void Search(Call* call)
    {
        // Locked entries come too, so that "locked" is told from "none".
        int flags = SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK;
        if (call->kind == Kind::Read) flags |= SECRET_SEARCH_LOAD_SECRETS;
        secret_service_search(call->service, Schema(), call->attributes, static_cast<SecretSearchFlags>(flags),
                              call->cancellable, &Call::OnSearch, call);
    }

    static void OnCollection(GObject*, GAsyncResult* result, gpointer data)
    {
        auto* call = static_cast<Call*>(data);
        GError* error = nullptr;
        call->collection = secret_collection_for_alias_finish(result, &error);
        if (Failed(call, error)) return;
        if (!call->collection) {
            if (call->kind == Kind::Read || call->kind == Kind::Delete) Finish(call, Answered(SecretStatus::NotFound));
            else Finish(call, Answered(SecretStatus::NoKeyring, "it has no default keyring"));
            return;
        }
        if (call->kind == Kind::Probe) {
            // A locked one would prompt at every start of an automatic-login session.
            Finish(call, secret_collection_get_locked(call->collection) ? Answered(SecretStatus::Locked, kKeyringLockedReason)
                                                                        : Answered(SecretStatus::Done));
            return;
        }
        if (!secret_collection_get_locked(call->collection)) {
            if (call->kind == Kind::Store) StoreNow(call);
            else Finish(call, Answered(SecretStatus::NotFound));
            return;
        }
        // The keyring asks the user to unlock it.
        GList* objects = g_list_append(nullptr, call->collection);
        secret_service_unlock(call->service, objects, call->cancellable, &Call::OnUnlocked, call);
        g_list_free(objects);
    }

    static void OnUnlocked(GObject*, GAsyncResult* result, gpointer data)
    {
        auto* call = static_cast<Call*>(data);
        GError* error = nullptr;
        GList* unlocked = nullptr;
        secret_service_unlock_finish(call->service, result, &unlocked, &error);
        const bool any = unlocked != nullptr;
        g_list_free_full(unlocked, g_object_unref);
        if (Failed(call, error)) return;
        if (!any) {
            Finish(call, Answered(SecretStatus::Locked, kKeyringLockedReason));
            return;
        }
        if (call->kind == Kind::Store) StoreNow(call);
        else Search(call);
    }

    static void StoreNow(Call* call)
    {
        // Text where it is text; other bytes are kept as they are.
        const bool text = g_utf8_validate(call->password.data(), static_cast<gssize>(call->password.size()), nullptr);
        SecretValue* value = secret_value_new(call->password.data(), static_cast<gssize>(call->password.size()),
                                              text ? "text/plain" : "application/octet-stream");
        const std::string label = SecretLabel(call->key);
        // An entry with the same attributes in this collection is replaced.
        secret_service_store(call->service, Schema(), call->attributes,
                             g_dbus_proxy_get_object_path(G_DBUS_PROXY(call->collection)), label.c_str(), value,
                             call->cancellable, &Call::OnStored, call);
        secret_value_unref(value);
    }

    static void OnStored(GObject*, GAsyncResult* result, gpointer data)
    {
        auto* call = static_cast<Call*>(data);
        GError* error = nullptr;
        secret_service_store_finish(call->service, result, &error);
        if (Failed(call, error)) return;
        Finish(call, Answered(SecretStatus::Done));
    }

    static void OnSearch(GObject*, GAsyncResult* result, gpointer data)
    {
        auto* call = static_cast<Call*>(data);
        GError* error = nullptr;
        GList* items = secret_service_search_finish(call->service, result, &error);
        if (Failed(call, error)) return;
        bool found = false, locked = false;
        SecretAnswer answer = Answered(SecretStatus::Done);
        for (GList* i = items; i; i = i->next) {
            auto* item = static_cast<SecretItem*>(i->data);
            found = true;
            if (secret_item_get_locked(item)) {
                locked = true;
                continue;
            }
            if (call->kind == Kind::Read && answer.password.empty()) {
                if (SecretValue* value = secret_item_get_secret(item)) {
                    gsize length = 0;
                    const gchar* bytes = secret_value_get(value, &length);
                    answer.password.assign(bytes, length);
                    secret_value_unref(value);
                }
            }
        }
        g_list_free_full(items, g_object_unref);
        if (!found && !call->unlockTried) {
            // A keyring loaded locked matches no attributes (it keeps them
            // hashed): the default one is unlocked and searched again.
            call->unlockTried = true;
            secret_collection_for_alias(call->service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
                                        call->cancellable, &Call::OnCollection, call);
        } else if (!found) {
            Finish(call, Answered(SecretStatus::NotFound));
        } else if (call->kind == Kind::Read) {
            // An unlocked entry answers, even where a copy elsewhere stays locked.
            if (locked && answer.password.empty()) answer = Answered(SecretStatus::Locked, kKeyringLockedReason);
            Finish(call, answer);
            std::fill(answer.password.begin(), answer.password.end(), '\0');
        } else if (locked) {
            Finish(call, Answered(SecretStatus::Locked, kKeyringLockedReason));
        } else {
            secret_service_clear(call->service, Schema(), call->attributes, call->cancellable, &Call::OnCleared, call);
        }
    }

    static void OnCleared(GObject*, GAsyncResult* result, gpointer data)
    {
        auto* call = static_cast<Call*>(data);
        GError* error = nullptr;
        const gboolean removed = secret_service_clear_finish(call->service, result, &error);
        if (Failed(call, error)) return;
        Finish(call, Answered(removed ? SecretStatus::Done : SecretStatus::NotFound));
    }
};

SecretServiceKeyring::SecretServiceKeyring() = default;

SecretServiceKeyring::~SecretServiceKeyring()
{
    // Not cancelled: that would dismiss an open unlock prompt, which takes
    // GNOME Keyring 42 down. Freed by their own callbacks, if the loop runs.
    for (Call* call : calls_) call->owner = nullptr;
}

void SecretServiceKeyring::CancelAll()
{
    // Each call finishes (and is freed) by its own callback, answering no one.
    for (Call* call : calls_) call->answer = nullptr;
}

void SecretServiceKeyring::WatchService(std::function<void()> appeared)
{
    appeared_ = std::move(appeared);
    if (watcher_ || !appeared_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    watcher_ = std::make_unique<QDBusServiceWatcher>(QStringLiteral("org.freedesktop.secrets"), bus,
                                                     QDBusServiceWatcher::WatchForRegistration);
    QObject::connect(watcher_.get(), &QDBusServiceWatcher::serviceRegistered, [this] {
        if (appeared_) appeared_();
    });
}

void SecretServiceKeyring::Start(std::unique_ptr<Call> owned)
{
    Call* call = owned.release();
    call->owner = this;
    calls_.insert(call);
    if (!RunsGlibLoop()) {
        if (!glibPump_) {
            glibPump_ = std::make_unique<QTimer>();
            glibPump_->setInterval(10);
            QObject::connect(glibPump_.get(), &QTimer::timeout, [] {
                while (g_main_context_iteration(nullptr, FALSE)) {
                }
            });
        }
        glibPump_->start();
    }
    secret_service_get(SECRET_SERVICE_NONE, call->cancellable, &Call::OnService, call);
}

void SecretServiceKeyring::Probe(Answer answer)
{
    Start(std::make_unique<Call>(Call::Kind::Probe, SecretKey{}, std::move(answer)));
}

void SecretServiceKeyring::Read(const SecretKey& key, Answer answer)
{
    Start(std::make_unique<Call>(Call::Kind::Read, key, std::move(answer)));
}

void SecretServiceKeyring::Store(const SecretKey& key, const std::string& password, Answer answer)
{
    auto call = std::make_unique<Call>(Call::Kind::Store, key, std::move(answer));
    call->password = password;
    Start(std::move(call));
}

void SecretServiceKeyring::Delete(const SecretKey& key, Answer answer)
{
    Start(std::make_unique<Call>(Call::Kind::Delete, key, std::move(answer)));
}
