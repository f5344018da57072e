// One vault pass over a notes list answer of any content: the list is decoded, each note
// becomes a file name and Markdown, and the files are written. Whatever the answer says,
// the pass writes nothing but regular files directly inside the notes folder and its
// state file.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/fake/FakeKeychain.h"
#include "platform/fake/FakeScheduler.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/fake/VirtualClock.h"
#include "service/APIClient.h"
#include "service/Wire.h"
#include "vault/VaultSync.h"

using namespace larkspire;
namespace fs = std::filesystem;

namespace {

void checkOnlyNotesWereWritten(const fs::path& home, const fs::path& notes) {
    const fs::path state = home / ".vantrel" / "vault_state.json";
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(home, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const fs::path& p = it->path();
        if (p == home / ".vantrel" || p == state || p == home / "Vantrel" || p == notes) {
            continue;
        }
        if (p.parent_path() != notes || !it->is_regular_file() || it->is_symlink()) {
            fuzz::fail("the pass wrote " + p.string());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder home;
    {
        fake::VirtualClock clock;
        fake::FakeScheduler scheduler{clock};
        fake::FakeSystemLog log;
        fake::FakeKeychain keychain;
        Config config;
        config.api_url = "http://127.0.0.1:9";
        auto api = std::make_shared<APIClient>(
            config, clock, keychain,
            std::make_shared<fuzz::AnswerTransport>(
                200, std::string(reinterpret_cast<const char*>(data), size)));
        api->install(NativeSession{"T", "R", wire::secondsSince1970(clock.now()) + 3600});
        VaultSync vault(api, std::nullopt, {scheduler, clock, log, home.path()});
        vault.syncSoon();
        scheduler.runSerialQueues();
        checkOnlyNotesWereWritten(home.path(), vault.vaultDir());
    }
    home.clear();
    return 0;
}
