// The double-precision CPU tracking kernel for processors with AVX2 (4 doubles a vector).
#define KERNEL_FUNCTION cpu_kernel_avx2_double
#define KERNEL_DOUBLE 1
#define KERNEL_LANES 4
#define KERNEL_VECTORS 2
#include "engines/cpu_kernel_body.h"
