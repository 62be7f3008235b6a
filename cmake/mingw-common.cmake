# What the mingw-w64 cross toolchains share; each toolchain file names its
# target triplet and processor, then includes this. Debian's win32 thread
# model is used: the product needs no winpthread DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${WENDLE_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${WENDLE_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${WENDLE_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${WENDLE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
