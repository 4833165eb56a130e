# Cross-builds the Windows programs with Debian's MinGW-w64 GCC. The posix
# thread model is named explicitly: only it gives std::thread, std::mutex,
# std::counting_semaphore and std::filesystem (the default alternative may
# point at the win32 model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Self-contained .exe files: the C++ runtime, winpthreads and libgcc inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# The tests run the .exe files under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
