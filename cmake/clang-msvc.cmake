# Shared part of the Microsoft-ABI toolchain files, which set MSVC_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first. clang-16 compiles for *-pc-windows-msvc with
# the options in clang-msvc.cfg (Wine's Windows and CRT headers); lld-link-16
# links. This target has no C++ library and no CRT start-up objects: what is
# built here uses C headers only and imports the C runtime from msvcrt.dll.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_C_COMPILER_TARGET ${MSVC_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${MSVC_TRIPLE})
set(CMAKE_RC_COMPILER llvm-rc-16)
# Wine's Windows headers hold winver.h for version resources.
set(CMAKE_RC_FLAGS_INIT -I/usr/include/wine/wine/windows)
set(CMAKE_AR llvm-ar-16)
set(CMAKE_RANLIB llvm-ranlib-16)
set(VEKLINK_DLLTOOL llvm-dlltool-16)
set(CMAKE_C_FLAGS_INIT "--config=${CMAKE_CURRENT_LIST_DIR}/clang-msvc.cfg")
set(CMAKE_CXX_FLAGS_INIT "--config=${CMAKE_CURRENT_LIST_DIR}/clang-msvc.cfg")

# Nothing is linked by default, in particular not the import libraries CMake
# names for Windows (kernel32.lib user32.lib ...), which do not exist here: a
# project names the import libraries it uses (VekLink makes its own from .def
# files). A value given on the command line is kept.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C program")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C++ program")
# Without CRT start-up objects a test program has no entry point, so CMake's
# compiler check builds a static library instead.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# Test programs run under Wine, inside a private network namespace with a
# fresh Wine prefix (ctest and add_test use it as the emulator).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
