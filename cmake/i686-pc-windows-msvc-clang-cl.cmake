# Cross-compiles the library for 32-bit Windows in the Microsoft C++ ABI with
# clang-cl-16, which takes cl's options: CMake treats it as Visual C++ (MSVC is
# true), so this build goes the way a Visual Studio one does, with lld-link-16
# standing in for link.exe, llvm-lib-16 for lib.exe and llvm-rc-16 for rc.exe.
# The Windows SDK's place is taken by what clang-msvc.cmake uses too: Wine's
# headers (clang-msvc.cfg, whose clang options clang-cl takes through /clang:)
# and import libraries made from cmake/imports.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER clang-cl-16)
set(CMAKE_CXX_COMPILER clang-cl-16)
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_LINKER lld-link-16)
set(CMAKE_AR llvm-lib-16)
set(CMAKE_RC_COMPILER llvm-rc-16)
set(CMAKE_MT llvm-mt-16)
set(VEKLINK_DLLTOOL llvm-dlltool-16)
set(CMAKE_RC_FLAGS_INIT -I/usr/include/wine/wine/windows)

# clang-cl takes exceptions from cl's /EH options only (the project gives
# /EHs-c-). Without a C runtime there is no security cookie, hence /GS-.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/clang-msvc.cfg clang_options REGEX "^[^#]")
string(REPLACE " " ";" clang_options "${clang_options}")
list(REMOVE_ITEM clang_options -fno-exceptions)
list(TRANSFORM clang_options PREPEND /clang:)
list(JOIN clang_options " " clang_options)
set(CMAKE_C_FLAGS_INIT "/GS- ${clang_options}")
set(CMAKE_CXX_FLAGS_INIT "/GS- ${clang_options}")

# As in clang-msvc.cmake: nothing linked by default, and no CRT start-up
# objects for CMake's compiler check to link against.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C program")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C++ program")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
