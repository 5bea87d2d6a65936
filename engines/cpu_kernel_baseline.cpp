// The CPU tracking kernel for every x86-64 processor (SSE2, 4 floats a vector) and other
// processors (the compiler's plain vector code).
#define KERNEL_FUNCTION cpu_kernel_baseline
#define KERNEL_DOUBLE 0
#define KERNEL_LANES 4
#define KERNEL_VECTORS 4
#include "engines/cpu_kernel_body.h"
