# Cross build for i686 Windows with Debian's MinGW-w64, posix thread model
# (the win32 model has no std::mutex, and GoogleTest needs it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OS_TRIPLE i686-w64-mingw32)

set(CMAKE_C_COMPILER   ${OS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${OS_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static C and C++ runtimes: the programs load only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
