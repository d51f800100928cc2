// Which wide vector units the processor has, asked once.
#include "platform/VectorUnits.h"

namespace quell {

bool HasAvx2()
{
#if defined(QUELL_X86_VECTORS)
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

bool HasAvx512()
{
#if defined(QUELL_X86_VECTORS)
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vl");
    return has;
#else
    return false;
#endif
}

}  // namespace quell
