# Read after CMake's Darwin rules when cross-compiling with Zig (see ZigMacosToolchain.cmake).
# Those rules ask for the linker's verbose output with -Wl,-v while probing the compiler, which
# Zig's linker rejects; -v alone shows what the probe reads.
set(CMAKE_C_VERBOSE_FLAG -v)
set(CMAKE_CXX_VERBOSE_FLAG -v)
