# Import libraries of the Windows system DLLs for the Microsoft-ABI build,
# made at build time with llvm-dlltool from the .def files in imports/. The
# 32-bit names carry their stdcall decoration; the 64-bit build uses the same
# files with the decoration removed, except where a DLL's names differ by
# architecture (DLL-PROCESSOR.def).
#
# Defines veklink_system_imports, an interface library that links them (and
# nothing by default), and leaves them in ${CMAKE_BINARY_DIR}/imports, where a
# host built outside CMake can find them too.
set(imports_dir ${CMAKE_BINARY_DIR}/imports)
file(MAKE_DIRECTORY ${imports_dir})
if(CMAKE_SYSTEM_PROCESSOR STREQUAL x86)
  set(machine i386)
else()
  set(machine i386:x86-64)
endif()

set(import_libs)
foreach(dll kernel32 msvcrt netapi32 ntdll ws2_32)
  set(def ${CMAKE_CURRENT_LIST_DIR}/imports/${dll}-${CMAKE_SYSTEM_PROCESSOR}.def)
  if(NOT EXISTS ${def})
    set(def ${CMAKE_CURRENT_LIST_DIR}/imports/${dll}.def)
    if(NOT machine STREQUAL i386)
      file(READ ${def} text)
      string(REGEX REPLACE "@[0-9]+" "" text "${text}")
      file(CONFIGURE OUTPUT ${imports_dir}/${dll}.def CONTENT "${text}" @ONLY)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
      set(def ${imports_dir}/${dll}.def)
    endif()
  endif()
  add_custom_command(OUTPUT ${imports_dir}/${dll}.lib
                     COMMAND ${VEKLINK_DLLTOOL} -m ${machine} -k -d ${def} -l ${imports_dir}/${dll}.lib
                     DEPENDS ${def} VERBATIM)
  list(APPEND import_libs ${imports_dir}/${dll}.lib)
endforeach()
add_custom_target(veklink_import_libraries DEPENDS ${import_libs})

add_library(veklink_system_imports INTERFACE)
target_link_libraries(veklink_system_imports INTERFACE ${import_libs})
target_link_options(veklink_system_imports INTERFACE LINKER:/nodefaultlib)
add_dependencies(veklink_system_imports veklink_import_libraries)
