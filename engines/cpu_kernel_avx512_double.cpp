// The double-precision CPU tracking kernel for processors with AVX-512 (8 doubles a vector).
#define KERNEL_FUNCTION cpu_kernel_avx512_double
#define KERNEL_DOUBLE 1
#define KERNEL_LANES 8
#define KERNEL_VECTORS 4
#include "engines/cpu_kernel_body.h"
