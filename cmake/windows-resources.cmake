# Resources of syncstatus.exe on Windows: the application manifest
# (packaging/syncstatus.manifest) and the version information, made from the
# project's version by configuring packaging/syncstatus.rc.in; mingw-w64's
# windres compiles them into the program.
enable_language(RC)

if(PROJECT_VERSION_TWEAK STREQUAL "")
  set(syncstatus_version_tweak 0)
else()
  set(syncstatus_version_tweak ${PROJECT_VERSION_TWEAK})
endif()
set(syncstatus_version_quad
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${syncstatus_version_tweak}")
set(syncstatus_manifest "${PROJECT_SOURCE_DIR}/packaging/syncstatus.manifest")

configure_file(packaging/syncstatus.rc.in "${PROJECT_BINARY_DIR}/syncstatus.rc" @ONLY)
target_sources(syncstatus PRIVATE "${PROJECT_BINARY_DIR}/syncstatus.rc")
# windres reports no dependencies: a changed manifest must still rebuild.
set_source_files_properties("${PROJECT_BINARY_DIR}/syncstatus.rc" PROPERTIES
  OBJECT_DEPENDS "${syncstatus_manifest}")
