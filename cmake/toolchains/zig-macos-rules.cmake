# Read after CMake's rules for Apple's clang: zig's linker takes no -v, which
# those rules pass to it when they look for the compiler's pointer size.
set(CMAKE_CXX_VERBOSE_FLAG -v)
