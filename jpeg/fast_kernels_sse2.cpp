// The encoder's hot loops built for the x86-64 baseline (SSE2).
#define KERNELS_FUNCTION sse2_kernels
#include "fast_kernels.inc"
