// Whether this build runs under the sanitizers, whose allocator reports a failed allocation
// itself (and reserves more address space than a test's limit) instead of returning null.
#ifndef SANITIZED_H
#define SANITIZED_H

#if defined(TOVREL_SANITIZED)
constexpr bool sanitized_build = true;
#else
constexpr bool sanitized_build = false;
#endif

#endif
