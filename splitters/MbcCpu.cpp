#include "splitters/MbcCpu.h"

namespace {

bool detectSse2() {
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

}  // namespace

bool mbcCpuLevelSupported(MbcCpuLevel level) {
    static const bool sse2 = detectSse2();
    return level == MbcCpuLevel::Scalar || (level == MbcCpuLevel::Sse2 && sse2);
}

MbcCpuLevel mbcBestCpuLevel() {
    static const MbcCpuLevel best = mbcCpuLevelSupported(MbcCpuLevel::Sse2) ? MbcCpuLevel::Sse2 : MbcCpuLevel::Scalar;
    return best;
}
