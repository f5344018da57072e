#pragma once

namespace larkspire::memory {

// Hands pages the allocator keeps after large buffers were freed back to the system:
// glibc keeps them otherwise, and a reading of a 60 MB answer left the agent 100 MB
// larger for good. Costs about a millisecond; call it after letting a large answer go.
void returnFreedPages();

}  // namespace larkspire::memory
