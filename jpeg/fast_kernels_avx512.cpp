// The encoder's hot loops built for AVX-512 (x86-64-v4): the double-precision
// steps of the transform and the quantization take a whole row at once.
#define KERNELS_FUNCTION avx512_kernels
#include "fast_kernels.inc"
