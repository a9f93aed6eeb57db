#pragma once

// Bytes the program holds on the heap right now: live allocations only, not
// what the allocator keeps for reuse (nor what AddressSanitizer holds back
// after a free), so "memory stays flat" can be checked in any build.

#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLORAN_HEAP_FROM_SANITIZER
#endif
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(VELLORAN_HEAP_FROM_SANITIZER)
#include <sanitizer/allocator_interface.h>
inline std::size_t HeapInUse() {
    return __sanitizer_get_current_allocated_bytes();
}
#else
#include <malloc.h>
inline std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}
#endif
