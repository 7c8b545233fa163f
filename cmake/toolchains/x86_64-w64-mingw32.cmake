# Windows programs (64-bit) from Debian's mingw-w64 cross compilers.
# The -posix compilers: their thread model is winpthreads, which std::thread
# and std::mutex need (the -win32 ones have neither).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARNWICK_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
