// The real services against the same contracts as their fakes (tests/unit/contract),
// inside scripts/headless-session: gnome-keyring for the keychain, the X server's
// CLIPBOARD selection, and QSettings over a temporary file.
#include <QGuiApplication>

#include "platform/linux/qt/QtClipboard.h"
#include "platform/linux/qt/QtUserDefaults.h"
#include "platform/linux/secret/SecretServiceKeychain.h"
#include "support/TempDir.h"
#include "support/contract/ClipboardContract.h"
#include "support/contract/KeychainContract.h"
#include "support/contract/UserDefaultsContract.h"

namespace larkspire::contract {
namespace {

struct SecretServiceKeychainMaker {
    static std::unique_ptr<platform::Keychain> make() {
        return std::make_unique<linux_desktop::SecretServiceKeychain>("Larkspire contract test");
    }
};
INSTANTIATE_TYPED_TEST_SUITE_P(SecretService, KeychainContract, SecretServiceKeychainMaker);

struct QtClipboardMaker {
    static std::unique_ptr<platform::Clipboard> make() {
        return std::make_unique<linux_desktop::QtClipboard>();
    }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, ClipboardContract, QtClipboardMaker);

// A fresh settings file per test; each open() is a new QSettings over it.
struct QtUserDefaultsStore {
    std::shared_ptr<platform::UserDefaults> open() {
        return std::make_shared<linux_desktop::QtUserDefaults>(
            (dir.path() / "settings.conf").string());
    }
    testing::TempDir dir;
};
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, UserDefaultsContract, QtUserDefaultsStore);

}  // namespace
}  // namespace larkspire::contract

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
