# Windows i686, the interface's own 32-bit form, with Debian's mingw-w64 cross compilers.
# The -posix variants are used: the -win32 ones have no std::mutex or std::thread, which
# GoogleTest needs. SSE arithmetic comes from tf_strict, which recognises CMAKE_SYSTEM_PROCESSOR
# below: the same bits as the 64-bit builds. The entry functions realign the stack for hosts
# that call with only 4-byte alignment (TF_ENTRY).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TF_MINGW_TRIPLET i686-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
