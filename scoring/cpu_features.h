// Which vector instructions the processor running this has. Each kernel that
// uses them is picked once, when the program starts, with a plain fallback.
#pragma once

namespace orvane {

inline bool haveAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

inline bool haveAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}

// AVX-512 with its byte and word instructions.
inline bool haveAvx512Bytes() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}

}  // namespace orvane
