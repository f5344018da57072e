#include "service/SessionStore.h"

namespace larkspire::SessionStore {

using platform::KeychainStatus;

platform::KeychainItemId itemId() {
    return {"com.larkspire.mac.session", "supabase"};
}

void save(platform::Keychain& keychain, const NativeSession& session) {
    const std::optional<std::string> data = session.encoded();
    if (!data) {
        return;
    }
    if (keychain.updateItem(itemId(), *data) == KeychainStatus::itemNotFound) {
        keychain.addItem(itemId(), *data);
    }
}

std::optional<NativeSession> load(platform::Keychain& keychain) {
    const platform::KeychainCopyResult result = keychain.copyItem(itemId());
    if (result.status != KeychainStatus::success || !result.data) {
        return std::nullopt;
    }
    return NativeSession::decodeStored(*result.data);
}

void clear(platform::Keychain& keychain) {
    keychain.deleteItem(itemId());
}

}  // namespace larkspire::SessionStore
