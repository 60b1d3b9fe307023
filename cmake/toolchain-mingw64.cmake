# Cross-compiles for Windows x64 with Debian's MinGW-w64 (POSIX thread model,
# so std::thread and std::mutex are available).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RAG_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${RAG_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAG_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RAG_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RAG_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# Dependencies built by scripts/setup.sh live outside the MinGW root.
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

