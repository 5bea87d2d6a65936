// The CPU tracking kernel for processors with AVX2 (8 floats a vector).
#define KERNEL_FUNCTION cpu_kernel_avx2
#define KERNEL_DOUBLE 0
#define KERNEL_LANES 8
#define KERNEL_VECTORS 2
#include "engines/cpu_kernel_body.h"
