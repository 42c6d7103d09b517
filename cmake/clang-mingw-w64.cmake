# Cross build for 64-bit Windows with clang on the mingw-w64 headers and
# libraries: a second compiler for the Windows code, so that what only g++
# accepts is found before it reaches MSVC or clang-cl. Compile and link only:
# the tests run under Wine from the g++ build (mingw-w64.cmake).
#
# clang finds the mingw-w64 C headers and import libraries by itself, but not
# the C++ library of Debian's posix-thread mingw-w64 g++ (its folder is named
# "12-posix", which clang does not read as a version): both are named here.
# lld links whatever the order of the static libraries (libstdc++ needs
# winpthreads after it, which GNU ld would only take in that order).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(tv_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${tv_triple})
set(CMAKE_CXX_COMPILER_TARGET ${tv_triple})
set(CMAKE_RC_COMPILER ${tv_triple}-windres)

file(GLOB tv_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${tv_triple}/*-posix)
list(SORT tv_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET tv_gcc_dirs 0 tv_gcc_dir)
# mingw-w64's g++ keeps thread-local variables in emulated TLS, and so does
# its libstdc++ (std::call_once's state, which std::future uses): clang must
# name them the same way.
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT
    "-femulated-tls -nostdinc++ -isystem ${tv_gcc_dir}/include/c++ -isystem ${tv_gcc_dir}/include/c++/${tv_triple} -isystem ${tv_gcc_dir}/include/c++/backward")
# (The C++ header flags reach the link line too, where clang would warn.)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${tv_gcc_dir} -Wno-unused-command-line-argument")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread" CACHE STRING "" FORCE)

set(CMAKE_FIND_ROOT_PATH /usr/${tv_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
