#include "util/Memory.h"

#include <malloc.h>

namespace larkspire::memory {

void returnFreedPages() {
    ::malloc_trim(0);
}

void returnLargeBuffersWhenFreed() {
    // Setting it fixes the threshold: glibc stops adjusting it.
    ::mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
}

}  // namespace larkspire::memory
