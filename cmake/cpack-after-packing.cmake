# Run by cpack once it has packed. Its .tar.gz and .zip list the files in
# the order the file system lists the staged folder, which differs from one
# file system to another; pack them again with the files in name order. The
# .deb is in name order already.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.tar\\.gz$")
    set(create czf)
    set(format paxr)
  elseif(package MATCHES "\\.zip$")
    set(create cf)
    set(format zip)
  else()
    continue()
  endif()
  file(GLOB_RECURSE files RELATIVE "${CPACK_TOPLEVEL_DIRECTORY}"
    "${CPACK_TEMPORARY_DIRECTORY}/*")
  list(SORT files)
  file(REMOVE "${package}")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -E tar ${create} "${package}"
            --format=${format} -- ${files}
    WORKING_DIRECTORY "${CPACK_TOPLEVEL_DIRECTORY}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
