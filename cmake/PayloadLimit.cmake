# The largest payload the setup takes, and the check of the payload files
# against it: at configure time (cmake/Payload.cmake), which CMake runs
# again at build time when a payload file has changed.
#
# A 32-bit program is mapped whole, its payload with it, into the address
# space of its process, from its base at 4 MiB: on Windows 95, 98 and Me up
# to 2 GiB (the top of the private arena), on the NT family up to 2 GiB
# less 64 KiB (the top of the user space, which the system's own DLLs
# share). The smaller of the two, 2,143,223,808 bytes, holds the whole
# image; 1 MiB of it is kept for the setup's own part (code, data, the
# copy's buffer, the windows' resources, each section rounded to a page).
# PE images are limited to 2 GiB, and a resource's size to 32 bits, above
# that anyway.
set(SKYRIFT_PAYLOAD_LIMIT 2142175232)

# Fails the configure run, with one line, when the files together are larger.
function(skyrift_check_payload_size)
  set(total 0)
  foreach(path IN LISTS ARGN)
    file(SIZE ${path} size)
    math(EXPR total "${total} + ${size}")
  endforeach()
  if(total GREATER SKYRIFT_PAYLOAD_LIMIT)
    # (the leading blank keeps the line from being wrapped)
    message(FATAL_ERROR " the payload's ${total} bytes are more than the ${SKYRIFT_PAYLOAD_LIMIT} bytes a 32-bit "
            "setup can hold: Windows maps it whole, between 4 MiB and 2 GiB less 64 KiB of the program's address "
            "space, with 1 MiB for the setup itself (cmake/PayloadLimit.cmake)")
  endif()
endfunction()
