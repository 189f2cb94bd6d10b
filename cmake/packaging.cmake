# The release package: `cmake --build <build> --target package` makes
# Kawauso04-<version>-win32.zip (or -win64.zip in a 64-bit build) holding the program, the
# offline renderer and the user's README, in one folder of the same name.
install(TARGETS Kawauso04 kawauso-render RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/README-user.txt DESTINATION . RENAME README.txt)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KAWAUSO_PACKAGE_ARCH win64)
else()
  set(KAWAUSO_PACKAGE_ARCH win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Kawauso04)
set(CPACK_PACKAGE_VENDOR Kawauso04)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Kawauso04-${PROJECT_VERSION}-${KAWAUSO_PACKAGE_ARCH})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
