#pragma once

#include <optional>

#include "platform/Keychain.h"
#include "service/NativeSession.h"

namespace larkspire::SessionStore {

// The one keychain item that holds the session.
platform::KeychainItemId itemId();

// Writes the session, updating the existing item in place or creating it. Never fails
// visibly: a failed write leaves the previous item (or none).
void save(platform::Keychain& keychain, const NativeSession& session);
// The stored session, or none when there is no item, the store cannot be read, or the
// item does not decode (it is then left in place).
std::optional<NativeSession> load(platform::Keychain& keychain);
// Deletes the item; an absent item is not an error.
void clear(platform::Keychain& keychain);

}  // namespace larkspire::SessionStore
