// The CPU tracking kernel for processors with AVX-512 (16 floats a vector).
#define KERNEL_FUNCTION cpu_kernel_avx512
#define KERNEL_DOUBLE 0
#define KERNEL_LANES 16
#define KERNEL_VECTORS 4
#include "engines/cpu_kernel_body.h"
