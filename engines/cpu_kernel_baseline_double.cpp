// The double-precision CPU tracking kernel for every x86-64 processor (SSE2, 2 doubles a
// vector) and other processors (the compiler's plain vector code).
#define KERNEL_FUNCTION cpu_kernel_baseline_double
#define KERNEL_DOUBLE 1
#define KERNEL_LANES 2
#define KERNEL_VECTORS 4
#include "engines/cpu_kernel_body.h"
