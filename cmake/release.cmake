# The release folder of the 32-bit build: the driver library, the update program and the
# command-line front end side by side in <build>/release, as they ship. Included by the
# top-level CMakeLists.txt after every subdirectory, so all targets are known here.
#
#   cmake --build --preset win32 --target release      ->  build/win32/release/
#
# The folder is emptied first, so it holds exactly what this build makes; the driver's
# export and import tables are checked before anything is copied.

set(RELEASE_DIR ${PROJECT_BINARY_DIR}/release)

# The programs by the file name they ship under, whatever their targets are called.
function(lumetra_find_program_target dir file_name out_var)
  set(found "")
  if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    get_property(targets DIRECTORY ${PROJECT_SOURCE_DIR}/${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t ${targets})
      get_target_property(type ${t} TYPE)
      if(NOT type STREQUAL "EXECUTABLE")
        continue()
      endif()
      get_target_property(name ${t} OUTPUT_NAME)
      if(NOT name)
        set(name ${t})
      endif()
      if(name STREQUAL file_name)
        set(found ${t})
        break()
      endif()
    endforeach()
  endif()
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()

set(RELEASE_TARGETS Vo5170s)
lumetra_find_program_target(updater scanupdate SCANUPDATE_TARGET)
lumetra_find_program_target(tools lumetra-scan LUMETRA_SCAN_TARGET)
foreach(t ${SCANUPDATE_TARGET} ${LUMETRA_SCAN_TARGET})
  list(APPEND RELEASE_TARGETS ${t})
endforeach()

set(RELEASE_COPY_COMMANDS "")
foreach(t ${RELEASE_TARGETS})
  list(APPEND RELEASE_COPY_COMMANDS COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${t}> ${RELEASE_DIR}/)
endforeach()
list(JOIN RELEASE_TARGETS ", " RELEASE_LIST)
message(STATUS "release folder: ${RELEASE_LIST}")

add_custom_target(release
  COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/check_exports.sh $<TARGET_FILE:Vo5170s> ${LUMETRA_OBJDUMP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${RELEASE_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RELEASE_DIR}
  ${RELEASE_COPY_COMMANDS}
  DEPENDS ${RELEASE_TARGETS}
  COMMENT "Release folder ${RELEASE_DIR}"
  VERBATIM)
