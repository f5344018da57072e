#include "platform/linux/secret/SecretServiceKeychain.h"

#include <libsecret/secret.h>

#include <memory>

#include "util/CHandle.h"

namespace larkspire::linux_desktop {

using platform::KeychainCopyResult;
using platform::KeychainItemId;
using platform::KeychainStatus;

namespace {

using Error = CHandle<GError, g_error_free>;
using Attributes = CHandle<GHashTable, g_hash_table_unref>;
using ItemList = CHandle<GList, [](GList* l) { g_list_free_full(l, g_object_unref); }>;
using Value = CHandle<SecretValue, secret_value_unref>;
using Password = CHandle<gchar, secret_password_free>;

// The generic schema with the two attributes the item is known by.
SecretSchema genericSchema(SecretSchemaFlags flags) {
    return {"org.freedesktop.Secret.Generic",
            flags,
            {
                {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
            },
            0,
            nullptr,
            nullptr,
            nullptr,
            nullptr,
            nullptr,
            nullptr,
            nullptr};
}

// New items carry the schema name ("xdg:schema"), as secret-tool's items do.
const SecretSchema* storeSchema() {
    static const SecretSchema schema = genericSchema(SECRET_SCHEMA_NONE);
    return &schema;
}

// Queries match on service and account alone, so that an item written without the
// schema name (`secret-tool store` by hand) is updated rather than duplicated.
const SecretSchema* querySchema() {
    static const SecretSchema schema = genericSchema(SECRET_SCHEMA_DONT_MATCH_NAME);
    return &schema;
}

// The attribute table owns nothing: the strings live in `id` for the call's duration.
Attributes attributesOf(const KeychainItemId& id) {
    Attributes table(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(table.get(), const_cast<char*>("service"),
                        const_cast<char*>(id.service.c_str()));
    g_hash_table_insert(table.get(), const_cast<char*>("account"),
                        const_cast<char*>(id.account.c_str()));
    return table;
}

KeychainStatus statusOf(const Error& error) {
    if (!error) {
        return KeychainStatus::success;
    }
    if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED) {
        return KeychainStatus::notAvailable;
    }
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR) {
        return KeychainStatus::notAvailable;
    }
    return KeychainStatus::failure;
}

// Matching items of the collection, unlocked ones only (headless there is no prompt).
ItemList search(const KeychainItemId& id, Error& error) {
    GError* raw = nullptr;
    Attributes attributes = attributesOf(id);
    GList* items = secret_service_search_sync(nullptr, querySchema(), attributes.get(),
                                              SECRET_SEARCH_ALL, nullptr, &raw);
    error.reset(raw);
    return ItemList(items);
}

}  // namespace

SecretServiceKeychain::SecretServiceKeychain(std::string label) : label_(std::move(label)) {}

KeychainStatus SecretServiceKeychain::updateItem(const KeychainItemId& id,
                                                 const std::string& data) {
    Error error;
    ItemList items = search(id, error);
    if (error) {
        return statusOf(error);
    }
    if (!items) {
        return KeychainStatus::itemNotFound;
    }
    auto* item = static_cast<SecretItem*>(items->data);
    if (secret_item_get_locked(item)) {
        return KeychainStatus::notAvailable;
    }
    Value value(secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain"));
    GError* raw = nullptr;
    secret_item_set_secret_sync(item, value.get(), nullptr, &raw);
    error.reset(raw);
    return statusOf(error);
}

KeychainStatus SecretServiceKeychain::addItem(const KeychainItemId& id, const std::string& data) {
    {
        Error error;
        ItemList items = search(id, error);
        if (error) {
            return statusOf(error);
        }
        if (items) {
            return KeychainStatus::duplicateItem;
        }
    }
    Attributes attributes = attributesOf(id);
    GError* raw = nullptr;
    secret_password_storev_sync(storeSchema(), attributes.get(), SECRET_COLLECTION_DEFAULT,
                                label_.c_str(), data.c_str(), nullptr, &raw);
    Error error(raw);
    return statusOf(error);
}

KeychainCopyResult SecretServiceKeychain::copyItem(const KeychainItemId& id) {
    Attributes attributes = attributesOf(id);
    GError* raw = nullptr;
    Password password(secret_password_lookupv_sync(querySchema(), attributes.get(), nullptr, &raw));
    Error error(raw);
    if (error) {
        return {statusOf(error), std::nullopt};
    }
    if (!password) {
        return {KeychainStatus::itemNotFound, std::nullopt};
    }
    return {KeychainStatus::success, std::string(password.get())};
}

KeychainStatus SecretServiceKeychain::deleteItem(const KeychainItemId& id) {
    Attributes attributes = attributesOf(id);
    GError* raw = nullptr;
    const gboolean removed =
        secret_password_clearv_sync(querySchema(), attributes.get(), nullptr, &raw);
    Error error(raw);
    if (error) {
        return statusOf(error);
    }
    return removed ? KeychainStatus::success : KeychainStatus::itemNotFound;
}

}  // namespace larkspire::linux_desktop
