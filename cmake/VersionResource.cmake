# veklink_add_version_resource(TARGET DESCRIPTION): gives a Windows DLL or program the version
# resource of VersionInfo.rc.in, filled from the project's version (FileVersion and
# ProductVersion 1.0.0.0 for 1.0.0) and LICENSE's copyright line. The file description ends
# with the C++ ABI and the width, which tell the VekLink.dll files apart. Elsewhere it does
# nothing.
set(VEKLINK_AUTHORS "The VekLink authors")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../LICENSE VEKLINK_COPYRIGHT
     REGEX "^Copyright " LIMIT_COUNT 1)

function(veklink_add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(version ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} 0)
  list(JOIN version , VEKLINK_RESOURCE_VERSION)
  list(JOIN version . VEKLINK_RESOURCE_VERSION_TEXT)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL SHARED_LIBRARY)
    set(VEKLINK_RESOURCE_FILE_TYPE VFT_DLL)
  else()
    set(VEKLINK_RESOURCE_FILE_TYPE VFT_APP)
  endif()
  set(VEKLINK_RESOURCE_TARGET ${target})
  if(VEKLINK_MSVC_ABI)
    set(abi "Microsoft C++ ABI")
  else()
    set(abi "GNU C++ ABI")
  endif()
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(VEKLINK_RESOURCE_DESCRIPTION "${description} (${abi}, ${bits}-bit)")
  # @...@ now; the target's file names once generators know them.
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VersionInfo.rc.in ${target}-version.rc.in @ONLY)
  set(resource ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  file(GENERATE OUTPUT ${resource} INPUT ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc.in)
  target_sources(${target} PRIVATE ${resource})
endfunction()
