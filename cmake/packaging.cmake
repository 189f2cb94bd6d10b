# The release package: `cmake --build <build> --target package` makes
# Kawauso04-<version>-win32.zip (or -win64.zip in a 64-bit build) holding the program, the
# offline renderer, both plug-in host programs, the user's README, the licence (whose notice must
# travel with every copy) and the changelog, in one folder of the same name. The other
# bitness's host is the other build tree's, under a name of its own (kawauso-fxhost64.exe
# beside a 32-bit program, kawauso-fxhost32.exe beside a 64-bit one), so the program of either
# zip runs effects of either bitness.
install(TARGETS Kawauso04 kawauso-render kawauso-fxhost RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/README-user.txt DESTINATION . RENAME README.txt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION . RENAME CHANGELOG.txt)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KAWAUSO_PACKAGE_ARCH win64)
  set(KAWAUSO_OTHER_ARCH win32)
  set(KAWAUSO_OTHER_HOST_NAME kawauso-fxhost32.exe)
else()
  set(KAWAUSO_PACKAGE_ARCH win32)
  set(KAWAUSO_OTHER_ARCH win64)
  set(KAWAUSO_OTHER_HOST_NAME kawauso-fxhost64.exe)
endif()
set(KAWAUSO_OTHER_HOST ${PROJECT_SOURCE_DIR}/build/${KAWAUSO_OTHER_ARCH}/kawauso-fxhost.exe
  CACHE FILEPATH "The other bitness's kawauso-fxhost.exe, built first in its own tree")
install(PROGRAMS ${KAWAUSO_OTHER_HOST} DESTINATION . RENAME ${KAWAUSO_OTHER_HOST_NAME})
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Kawauso04)
set(CPACK_PACKAGE_VENDOR Kawauso04)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Kawauso04-${PROJECT_VERSION}-${KAWAUSO_PACKAGE_ARCH})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
