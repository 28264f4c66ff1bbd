# Tests of the Windows builds run under Wine, in the prefix that the README's
# commands prepare inside the build folder (never the user's own prefix).
set(OS_WINEPREFIX "${CMAKE_SOURCE_DIR}/build/wine" CACHE PATH "Wine prefix for the tests")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(OS_WINE_LOADER /usr/lib/wine/wine64)
else()
  set(OS_WINE_LOADER /usr/lib/wine/wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env WINEDEBUG=-all WINEPREFIX=${OS_WINEPREFIX} LC_ALL=C.UTF-8 ${OS_WINE_LOADER})
