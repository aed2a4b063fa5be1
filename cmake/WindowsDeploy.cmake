# What the window needs beside it on Windows, picked as windeployqt would (Debian has
# no windeployqt for a Windows target): the Qt DLLs it uses, its platform, style and
# image-format plugins, the mingw-w64 runtime DLLs that Qt and the window share, and
# Qt's Italian translations (from Debian's qt6-translations-l10n, the same Qt release).
#
#   kq_install_windows_runtime()        install rules: the files beside the programs
#   kq_copy_windows_runtime(<target>)   copies them beside <target> after each build,
#                                       with the offscreen platform, for tests under Wine
#   kq_copy_windows_translations(<target>)  copies Qt's Italian translation into
#                                       "translations" beside <target>, where the
#                                       window looks for it (its Qt has none of its own)

set(KQ_QT_WINDOWS_LIBRARIES Qt6::Core Qt6::Gui Qt6::Widgets Qt6::PrintSupport)
# Pairs of the plugin's folder and its imported target.
set(KQ_QT_WINDOWS_PLUGINS
  platforms Qt6::QWindowsIntegrationPlugin
  styles Qt6::QWindowsVistaStylePlugin
  imageformats Qt6::QGifPlugin
  imageformats Qt6::QICOPlugin
  imageformats Qt6::QJpegPlugin)
set(KQ_QT_TRANSLATIONS_DIR /usr/share/qt6/translations CACHE PATH "Qt's .qm translations")

set(KQ_MINGW_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "The compiler does not know where ${dll} is")
  endif()
  get_filename_component(path "${path}" REALPATH)
  list(APPEND KQ_MINGW_RUNTIME_DLLS ${path})
endforeach()

function(kq_install_windows_runtime)
  foreach(library ${KQ_QT_WINDOWS_LIBRARIES})
    install(FILES $<TARGET_FILE:${library}> DESTINATION ${CMAKE_INSTALL_BINDIR})
  endforeach()
  set(plugins ${KQ_QT_WINDOWS_PLUGINS})
  while(plugins)
    list(POP_FRONT plugins folder plugin)
    install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${CMAKE_INSTALL_BINDIR}/${folder})
  endwhile()
  install(FILES ${KQ_MINGW_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KQ_QT_TRANSLATIONS_DIR}/qtbase_it.qm
          DESTINATION ${CMAKE_INSTALL_BINDIR}/translations)
endfunction()

function(kq_copy_windows_runtime target)
  set(files ${KQ_MINGW_RUNTIME_DLLS})
  foreach(library ${KQ_QT_WINDOWS_LIBRARIES})
    list(APPEND files $<TARGET_FILE:${library}>)
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${files} $<TARGET_FILE_DIR:${target}>
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${target}>/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin>
            $<TARGET_FILE_DIR:${target}>/platforms
    COMMENT "Copying the Qt and runtime DLLs beside ${target}"
    VERBATIM)
  kq_copy_windows_translations(${target})
endfunction()

function(kq_copy_windows_translations target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${target}>/translations
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KQ_QT_TRANSLATIONS_DIR}/qtbase_it.qm
            $<TARGET_FILE_DIR:${target}>/translations
    COMMENT "Copying Qt's Italian translation beside ${target}"
    VERBATIM)
endfunction()
