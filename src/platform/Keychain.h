#pragma once

#include <optional>
#include <string>

namespace larkspire::platform {

// Result codes of keychain operations. The numbers are those of the original keychain
// API so that log lines stay comparable across platforms.
enum class KeychainStatus : int {
    success = 0,
    itemNotFound = -25300,
    duplicateItem = -25299,
    // The store is locked or unreachable (no Secret Service on the bus, a locked keyring).
    notAvailable = -25291,
    // Any other failure of the store.
    failure = -25293,
};

// Identifies one generic-password item: the pair of service and account names.
struct KeychainItemId {
    std::string service;
    std::string account;
    bool operator==(const KeychainItemId&) const = default;
};

struct KeychainCopyResult {
    KeychainStatus status = KeychainStatus::itemNotFound;
    // The item's data; present only with `success`.
    std::optional<std::string> data;
};

// The per-user secret store. Every operation is synchronous and may be called from any
// thread. Implementations never fall back to storing a secret in plain text.
class Keychain {
  public:
    virtual ~Keychain() = default;
    // Replaces the data of the existing item; `itemNotFound` when there is none.
    virtual KeychainStatus updateItem(const KeychainItemId& id, const std::string& data) = 0;
    // Creates the item; `duplicateItem` when it already exists.
    virtual KeychainStatus addItem(const KeychainItemId& id, const std::string& data) = 0;
    // Reads the data of the matching item.
    virtual KeychainCopyResult copyItem(const KeychainItemId& id) = 0;
    // Deletes the matching item; `itemNotFound` when there is none.
    virtual KeychainStatus deleteItem(const KeychainItemId& id) = 0;
};

}  // namespace larkspire::platform
