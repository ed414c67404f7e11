# The Windows program as a folder to copy onto a machine as it is: the program, the Qt libraries
# (as DLLs, so that they can be replaced), the C++ runtime of mingw-w64, the platform plugin, the
# image plugins of the dialog's pictures (bmp is built into Qt Gui) and the Windows style. No CA
# bundle: on Windows the system's store verifies the servers. Nothing else is needed but the
# system's own DLLs; scripts/test-windows.sh checks every import of every file in the folder.
# ARGN: further programs of the folder (zlt-publish), which need nothing beyond what TARGET does.
function(zlt_windows_dist TARGET FOLDER)
  set(runtime)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "The compiler does not know where ${dll} is")
    endif()
    list(APPEND runtime ${path})
  endforeach()
  set(programs $<TARGET_FILE:${TARGET}>)
  set(stripped)
  foreach(program ${ARGN})
    list(APPEND programs $<TARGET_FILE:${program}>)
    list(APPEND stripped $<TARGET_FILE_NAME:${program}>)
  endforeach()
  list(APPEND stripped updater.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll
               libwinpthread-1.dll)
  set(plugins
    platforms Qt6::QWindowsIntegrationPlugin
    styles Qt6::QWindowsVistaStylePlugin
    imageformats Qt6::QGifPlugin
    imageformats Qt6::QICOPlugin
    imageformats Qt6::QJpegPlugin
    imageformats Qt6::QTiffPlugin)
  set(commands
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${FOLDER}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${FOLDER}/platforms ${FOLDER}/styles ${FOLDER}/imageformats
    COMMAND ${CMAKE_COMMAND} -E copy ${programs} $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui>
            $<TARGET_FILE:Qt6::Widgets> ${runtime} ${FOLDER})
  while(plugins)
    list(POP_FRONT plugins kind plugin)
    if(NOT TARGET ${plugin})
      message(FATAL_ERROR "The Qt for Windows has no ${plugin}")
    endif()
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${plugin}> ${FOLDER}/${kind})
    list(APPEND stripped ${kind}/$<TARGET_FILE_NAME:${plugin}>)
  endwhile()
  # The build's debugging information stays in build-win/bin; the folder gets stripped copies.
  if(NOT CMAKE_STRIP)
    message(FATAL_ERROR "No strip program for the deployable folder")
  endif()
  list(APPEND commands COMMAND ${CMAKE_COMMAND} -E chdir ${FOLDER} ${CMAKE_STRIP} --strip-unneeded
       ${stripped})
  add_custom_target(zlt_dist ALL ${commands} DEPENDS ${TARGET} ${ARGN} VERBATIM
                    COMMENT "The deployable folder ${FOLDER}")
endfunction()
