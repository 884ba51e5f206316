#pragma once
// Whether the tests run under AddressSanitizer or ThreadSanitizer. A sanitizer reserves terabytes
// of address space for itself and needs descriptors of its own for its checks, so no
// address-space limit fits it and a process without a descriptor to spare trips it.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif
