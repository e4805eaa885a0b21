# Windows i686, the interface's own 32-bit form, with Debian's mingw-w64 cross compilers.
# The -posix variants are used: the -win32 ones have no std::mutex or std::thread, which
# GoogleTest needs. SSE arithmetic and stack realignment come from tf_strict, which recognises
# CMAKE_SYSTEM_PROCESSOR below: the same bits as the 64-bit builds, and entry functions that cope
# with hosts calling with only 4-byte stack alignment.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TF_MINGW_TRIPLET i686-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
