# Cross build for 64-bit Windows with MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
find_program(_mingw_cxx NAMES ${_triple}-g++-posix)
find_program(_mingw_cc NAMES ${_triple}-gcc-posix)
find_program(_mingw_rc NAMES ${_triple}-windres)
if(NOT _mingw_cxx OR NOT _mingw_cc OR NOT _mingw_rc)
  message(FATAL_ERROR
    "MinGW-w64 (posix threads) not found: need ${_triple}-g++-posix, "
    "${_triple}-gcc-posix and ${_triple}-windres. "
    "On Debian: apt-get install g++-mingw-w64-x86-64-posix")
endif()

set(CMAKE_C_COMPILER ${_mingw_cc})
set(CMAKE_CXX_COMPILER ${_mingw_cxx})
set(CMAKE_RC_COMPILER ${_mingw_rc})

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
