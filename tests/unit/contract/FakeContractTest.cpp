// The fakes against the contracts the real services are held to in
// tests/integration/contract.
#include "platform/fake/FakeClipboard.h"
#include "platform/fake/FakeKeychain.h"
#include "platform/fake/FakeUserDefaults.h"
#include "support/contract/ClipboardContract.h"
#include "support/contract/KeychainContract.h"
#include "support/contract/UserDefaultsContract.h"

namespace larkspire::contract {
namespace {

struct FakeKeychainMaker {
    static std::unique_ptr<platform::Keychain> make() {
        return std::make_unique<fake::FakeKeychain>();
    }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, KeychainContract, FakeKeychainMaker);

struct FakeClipboardMaker {
    static std::unique_ptr<platform::Clipboard> make() {
        return std::make_unique<fake::FakeClipboard>();
    }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, ClipboardContract, FakeClipboardMaker);

// One store: every instance of the fake is the same values.
struct FakeUserDefaultsStore {
    std::shared_ptr<platform::UserDefaults> open() { return defaults; }
    std::shared_ptr<fake::FakeUserDefaults> defaults = std::make_shared<fake::FakeUserDefaults>();
};
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, UserDefaultsContract, FakeUserDefaultsStore);

}  // namespace
}  // namespace larkspire::contract
