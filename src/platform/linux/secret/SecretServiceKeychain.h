#pragma once

#include <string>

#include "platform/Keychain.h"

namespace larkspire::linux_desktop {

// Generic-password items on the freedesktop Secret Service through libsecret: one item
// per (service, account) of the schema "org.freedesktop.Secret.Generic", in the default
// collection (the login keyring), as `secret-tool` reads and writes them. A locked or
// missing Secret Service reads as `notAvailable`; nothing is ever written elsewhere.
class SecretServiceKeychain : public platform::Keychain {
  public:
    // `label` is the item's name shown by keyring managers.
    explicit SecretServiceKeychain(std::string label = "Larkspire session");

    platform::KeychainStatus updateItem(const platform::KeychainItemId& id,
                                        const std::string& data) override;
    platform::KeychainStatus addItem(const platform::KeychainItemId& id,
                                     const std::string& data) override;
    platform::KeychainCopyResult copyItem(const platform::KeychainItemId& id) override;
    platform::KeychainStatus deleteItem(const platform::KeychainItemId& id) override;

  private:
    std::string label_;
};

}  // namespace larkspire::linux_desktop
