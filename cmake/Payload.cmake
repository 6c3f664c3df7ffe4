# The payload: the resource script that embeds the two files and the
# expected checksums, computed over the same bytes by the program's own
# checksum function, built for the build machine.

set(SKYRIFT_PAYLOAD_NAMES vxmain.vdf vxsky_readme.txt)
set(SKYRIFT_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${SKYRIFT_GENERATED_DIR})

include(${CMAKE_CURRENT_LIST_DIR}/PayloadLimit.cmake)

set(SKYRIFT_PAYLOAD_FILES)
foreach(name IN LISTS SKYRIFT_PAYLOAD_NAMES)
  set(path ${SKYRIFT_PAYLOAD_DIR}/${name})
  if(NOT EXISTS ${path})
    message(FATAL_ERROR "payload file missing: ${path}")
  endif()
  list(APPEND SKYRIFT_PAYLOAD_FILES ${path})
endforeach()
# before anything is copied
skyrift_check_payload_size(${SKYRIFT_PAYLOAD_FILES})
foreach(name IN LISTS SKYRIFT_PAYLOAD_NAMES)
  # a copy in the build tree, where the tests compare installed files to it
  configure_file(${SKYRIFT_PAYLOAD_DIR}/${name} ${SKYRIFT_GENERATED_DIR}/payload/${name} COPYONLY)
endforeach()
list(GET SKYRIFT_PAYLOAD_FILES 0 SKYRIFT_PAYLOAD_MAIN)
list(GET SKYRIFT_PAYLOAD_FILES 1 SKYRIFT_PAYLOAD_README)

set(SKYRIFT_PAYLOAD_RC ${SKYRIFT_GENERATED_DIR}/payload.rc)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/resources/payload.rc.in ${SKYRIFT_PAYLOAD_RC} @ONLY)

find_program(SKYRIFT_HOST_CXX NAMES c++ g++ clang++ REQUIRED
             NO_CMAKE_FIND_ROOT_PATH)
set(SKYRIFT_SUMS_TOOL ${CMAKE_BINARY_DIR}/host/payload_sums)
add_custom_command(
  OUTPUT ${SKYRIFT_SUMS_TOOL}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
  COMMAND ${SKYRIFT_HOST_CXX} -std=c++17 -O2 -Wall -Wextra
          ${CMAKE_CURRENT_SOURCE_DIR}/tools/payload_sums.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/payload/checksum.cpp
          -o ${SKYRIFT_SUMS_TOOL}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/payload_sums.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/payload/checksum.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/payload/checksum.h
  COMMENT "Building the payload checksum tool for the build machine")

set(SKYRIFT_PAYLOAD_SUMS_CPP ${SKYRIFT_GENERATED_DIR}/payload_sums.cpp)
add_custom_command(
  OUTPUT ${SKYRIFT_PAYLOAD_SUMS_CPP}
  COMMAND ${SKYRIFT_SUMS_TOOL} ${SKYRIFT_PAYLOAD_SUMS_CPP} ${SKYRIFT_PAYLOAD_FILES}
  DEPENDS ${SKYRIFT_SUMS_TOOL} ${SKYRIFT_PAYLOAD_FILES}
  COMMENT "Computing the payload checksums")

# One producer for every target that compiles the sums.
add_custom_target(skyrift_payload_sums DEPENDS ${SKYRIFT_PAYLOAD_SUMS_CPP})
