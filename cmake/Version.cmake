# The version resource: file and product version from the project's
# version, the publisher's name and copyright from the cache.

set(SKYRIFT_PUBLISHER "Vexmoor Skyrift Publisher" CACHE STRING
    "Company name in the setup's file properties")
set(SKYRIFT_COPYRIGHT "" CACHE STRING
    "Copyright line in the setup's file properties (empty: Copyright (C) <publisher>)")

set(copyright "${SKYRIFT_COPYRIGHT}")
if(copyright STREQUAL "")
  set(copyright "Copyright (C) ${SKYRIFT_PUBLISHER}")
endif()
set(SKYRIFT_COPYRIGHT_LINE "${copyright}")
# UTF-8 (the script is compiled with that code page), on one line
foreach(text IN ITEMS "${SKYRIFT_PUBLISHER}" "${copyright}")
  if(text MATCHES "[\n\r]")
    message(FATAL_ERROR "publisher and copyright must be one line each: '${text}'")
  endif()
endforeach()
# a quote inside a resource string is written twice
string(REPLACE "\"" "\"\"" SKYRIFT_RC_PUBLISHER "${SKYRIFT_PUBLISHER}")
string(REPLACE "\"" "\"\"" SKYRIFT_RC_COPYRIGHT "${copyright}")

# FILEVERSION takes four numbers; the missing ones are 0.
set(SKYRIFT_VERSION_COMMAS)
foreach(part IN ITEMS MAJOR MINOR PATCH TWEAK)
  set(n "${PROJECT_VERSION_${part}}")
  if(n STREQUAL "")
    set(n 0)
  endif()
  list(APPEND SKYRIFT_VERSION_COMMAS ${n})
endforeach()
string(REPLACE ";" "." SKYRIFT_VERSION_DOTS "${SKYRIFT_VERSION_COMMAS}")
string(REPLACE ";" "," SKYRIFT_VERSION_COMMAS "${SKYRIFT_VERSION_COMMAS}")

set(SKYRIFT_VERSION_RC ${SKYRIFT_GENERATED_DIR}/version.rc)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/resources/version.rc.in ${SKYRIFT_VERSION_RC} @ONLY)

# The application manifest carries the same version.
set(SKYRIFT_MANIFEST ${SKYRIFT_GENERATED_DIR}/setup.manifest)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/resources/setup.manifest.in ${SKYRIFT_MANIFEST} @ONLY)
