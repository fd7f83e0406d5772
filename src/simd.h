// Whether the program uses SSE2, which every x86-64 processor has, to look
// at 16 bytes at a time. PLACEHARVEST_PORTABLE turns it off, so that the
// plain code is built and tested too.
#ifndef PLACEHARVEST_SIMD_H_
#define PLACEHARVEST_SIMD_H_

#if defined(__SSE2__) && !defined(PLACEHARVEST_PORTABLE)
#define PLACEHARVEST_SSE2 1
#include <emmintrin.h>
#endif

#endif  // PLACEHARVEST_SIMD_H_
