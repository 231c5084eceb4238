# The one resource the Windows executable carries: its icon. The build
# draws the project's own icon unless LAUNCHER_ICON names a vendor's.
enable_language(RC)
if(LAUNCHER_ICON)
  set(ICON_FILE ${LAUNCHER_ICON})
else()
  set(ICON_FILE ${CMAKE_BINARY_DIR}/launcher.ico)
  add_custom_command(OUTPUT ${ICON_FILE}
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/resources/make_icon.py ${ICON_FILE}
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/make_icon.py
    COMMENT "Drawing the launcher icon")
endif()
file(TO_CMAKE_PATH "${ICON_FILE}" LAUNCHER_ICON_PATH)
set(LAUNCHER_ICON ${LAUNCHER_ICON_PATH})
configure_file(${CMAKE_SOURCE_DIR}/resources/launcher.rc.in ${CMAKE_BINARY_DIR}/launcher.rc @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/launcher.rc PROPERTIES OBJECT_DEPENDS ${ICON_FILE})
target_sources(launcher PRIVATE ${CMAKE_BINARY_DIR}/launcher.rc)
