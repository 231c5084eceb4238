# The product ships stripped. Its symbols stay beside it, in
# launcher.exe.debug, which a debugger finds through the product's
# .gnu_debuglink (the file's name and CRC: the debug file is as
# reproducible as the product, so neither varies with the build folder).
# objcopy and strip stamp the PE header with the time they run unless
# SOURCE_DATE_EPOCH says otherwise: 0, as the linker wrote it.
set(PE_TOOL_ENV ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0)
add_custom_command(TARGET launcher POST_BUILD
  COMMAND ${PE_TOOL_ENV} ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:launcher> $<TARGET_FILE:launcher>.debug
  COMMAND ${PE_TOOL_ENV} ${CMAKE_STRIP} --strip-all $<TARGET_FILE:launcher>
  COMMAND ${PE_TOOL_ENV} ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE:launcher>.debug $<TARGET_FILE:launcher>
  WORKING_DIRECTORY $<TARGET_FILE_DIR:launcher>
  COMMENT "Stripping the product; its symbols go beside it, to .exe.debug"
  VERBATIM)
