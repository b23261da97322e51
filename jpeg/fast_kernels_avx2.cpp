// The encoder's hot loops built for AVX2 (x86-64-v3).
#define KERNELS_FUNCTION avx2_kernels
#include "fast_kernels.inc"
