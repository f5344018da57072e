#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Keychain.h"

namespace larkspire::fake {

// An in-memory keychain that holds items and records which operations were called.
// A test can make the store fail (as a locked keyring does) for every operation.
class FakeKeychain : public platform::Keychain {
  public:
    platform::KeychainStatus updateItem(const platform::KeychainItemId& id,
                                        const std::string& data) override;
    platform::KeychainStatus addItem(const platform::KeychainItemId& id,
                                     const std::string& data) override;
    platform::KeychainCopyResult copyItem(const platform::KeychainItemId& id) override;
    platform::KeychainStatus deleteItem(const platform::KeychainItemId& id) override;

    // Test controls and inspection.
    void setUnavailable(bool unavailable);
    void put(const platform::KeychainItemId& id, std::string data);
    std::optional<std::string> data(const platform::KeychainItemId& id) const;
    size_t itemCount() const;
    // Operation names in call order: "update", "add", "copy", "delete".
    std::vector<std::string> calls() const;
    void clearCalls();

  private:
    using Key = std::pair<std::string, std::string>;
    static Key keyOf(const platform::KeychainItemId& id) { return {id.service, id.account}; }

    mutable std::mutex mutex_;
    std::map<Key, std::string> items_;
    std::vector<std::string> calls_;
    bool unavailable_ = false;
};

}  // namespace larkspire::fake
