// An existing Markdown file of the notes folder, read for the note id it claims when the
// vault has no state file and adopts what it finds.
#include <cstdint>
#include <string_view>

#include "vault/NoteFile.h"

using namespace larkspire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NoteFile::managedId(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
