// A pending spool file of any content read back by the recovery store: libsndfile
// decodes it, the resampler converts it and the WAV replaces it.
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "audio/RecoveryStore.h"
#include "fuzz/FuzzSupport.h"

using namespace larkspire;
namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder scratch;
    const RecoveryStore store(scratch.path());
    const fs::path spool = store.recoveryDirectory() / "pending-fuzz.caf";
    {
        std::ofstream out(spool, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const auto recording = store.recover(spool);
    if (recording) {
        if (!WAV::pcmData(recording->wav) || fs::exists(spool) ||
            recording->recoveryURL != fs::path(spool).replace_extension("wav")) {
            fuzz::fail("a recovered spool file did not become its WAV");
        }
    } else if (!fs::exists(spool)) {
        fuzz::fail("an unreadable spool file was not kept");
    }
    scratch.clear();
    return 0;
}
