// Runs inside a session with an unlocked gnome-keyring (scripts/headless-session). The
// keychain's own behaviour is held to its fake's in integration_contract; here, the
// session item as secret-tool, the desktop's own client, sees and writes it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/secret/SecretServiceKeychain.h"
#include "service/SessionStore.h"

namespace larkspire {
namespace {

using std::string;

struct PipeCloser {
    void operator()(FILE* f) const { pclose(f); }
};

// Runs a shell command and returns its standard output.
string run(const string& command, const string& input = "") {
    if (!input.empty()) {
        std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "w"));
        fwrite(input.data(), 1, input.size(), pipe.get());
        return "";
    }
    std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
    string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
        out.append(buffer, n);
    }
    return out;
}

const string kAttributes = "service com.larkspire.mac.session account supabase";

string secretToolLookup() {
    return run("secret-tool lookup " + kAttributes + " 2>/dev/null");
}

// `secret-tool search --all` prints one "[/object/path]" line per matching item.
std::vector<string> itemPaths() {
    const string out = run("secret-tool search --all " + kAttributes + " 2>&1");
    std::vector<string> paths;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == string::npos) {
            end = out.size();
        }
        const string line = out.substr(start, end - start);
        if (line.rfind("[/", 0) == 0 && line.back() == ']') {
            paths.push_back(line);
        }
        start = end + 1;
    }
    return paths;
}

class KeyringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr)
            << "run inside scripts/headless-session";
        run("secret-tool clear " + kAttributes + " 2>/dev/null");
        ASSERT_TRUE(itemPaths().empty());
    }
    void TearDown() override { run("secret-tool clear " + kAttributes + " 2>/dev/null"); }

    linux_desktop::SecretServiceKeychain keychain;
};

TEST_F(KeyringTest, FirstSaveCreatesTheItemAndTheSecondUpdatesItInPlace) {
    const NativeSession first{"access-1", "refresh-1", 1767225600.5};
    SessionStore::save(keychain, first);
    const auto created = itemPaths();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(secretToolLookup(), *first.encoded());
    const string details = run("secret-tool search --all " + kAttributes + " 2>&1");
    EXPECT_NE(details.find("\nschema = org.freedesktop.Secret.Generic\n"), string::npos) << details;

    const NativeSession second{"access-2", "refresh-2", 1767229200};
    SessionStore::save(keychain, second);
    EXPECT_EQ(itemPaths(), created) << "the same item, not a second one";
    EXPECT_EQ(secretToolLookup(), *second.encoded());
    EXPECT_EQ(SessionStore::load(keychain), second);
}

TEST_F(KeyringTest, ItemWrittenBySecretToolIsUpdatedNotDuplicated) {
    run("secret-tool store --label=hand-written " + kAttributes, "{}");
    const auto before = itemPaths();
    ASSERT_EQ(before.size(), 1u);
    SessionStore::save(keychain, NativeSession{"a", "r", 2});
    EXPECT_EQ(itemPaths(), before);
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"a", "r", 2}));
}

}  // namespace
}  // namespace larkspire
