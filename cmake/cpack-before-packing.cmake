# Run by cpack on the staged tree before it is packed. Folders are made with
# the builder's umask; a package must give every user 0755 folders, and the
# same bytes whoever built it.
file(CHMOD_RECURSE "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
