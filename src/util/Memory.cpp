#include "util/Memory.h"

#include <malloc.h>

namespace larkspire::memory {

void returnFreedPages() {
    ::malloc_trim(0);
}

}  // namespace larkspire::memory
