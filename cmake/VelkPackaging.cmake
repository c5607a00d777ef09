# What a release carries besides the programs, and the packages CPack makes of it
# (scripts/release.sh runs it): a .tar.gz and a .deb on Linux, a .zip on Windows.
include(GNUInstallDirs)

# Directories CMake creates while installing get the same mode whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # The .zip unpacks to one folder holding the programs and their notes side by side.
  set(velk_doc_destination .)
else()
  set(velk_doc_destination ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/NOTICE.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${velk_doc_destination})

set(CPACK_PACKAGE_NAME velkpatch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The velkpatch authors")
set(CPACK_PACKAGE_CONTACT "The velkpatch authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-applying patches for disc images and ROMs")
set(CPACK_PACKAGE_DESCRIPTION
  "velkpatch creates, shows and applies patches for large files such as game disc images and
ROMs. A patch is a small Windows program with the patch appended: the player runs it, picks
the file, and the program checks the file's CRC-32 and patches it in place.")
set(CPACK_VERBATIM_VARIABLES ON)
# As one component, the archives list their files in sorted order rather than in the order
# the file system gives them, which differs between machines.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified)  # what install rules without a COMPONENT belong to
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME velkpatch-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME velkpatch-${PROJECT_VERSION}-win32)
  endif()
else()
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" velk_system)
  set(CPACK_PACKAGE_FILE_NAME velkpatch-${PROJECT_VERSION}-${velk_system})
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    list(APPEND CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()

include(CPack)
