#pragma once

namespace larkspire::memory {

// Hands pages the allocator keeps after large buffers were freed back to the system:
// glibc keeps them otherwise, and a reading of a 60 MB answer left the agent 100 MB
// larger for good. Costs about a millisecond; call it after letting a large answer go.
void returnFreedPages();

// From now on, every allocation of a megabyte or more is a mapping of its own, returned
// to the system the moment it is freed. glibc otherwise raises that threshold as large
// buffers come and go, and serves the next ones from heaps it keeps: a reading of eight
// minutes left 34 MB behind that no trim gave back. Call once, at process start.
void returnLargeBuffersWhenFreed();

}  // namespace larkspire::memory
