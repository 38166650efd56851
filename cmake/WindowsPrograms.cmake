# What makes the Windows build's programs Windows programs: version
# resources, icons and manifests, and the Qt for Windows the windows run on,
# laid out beside them as Qt's windeployqt lays it out:
#   quaylink_window.dll formwright.exe rowsmith_window.dll
#   Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll  beside the programs: a DLL is looked
#                                          for in its own program's folder first
#   platforms\qwindows.dll                 the platform plug-in
#   styles\qwindowsvistastyle.dll          the controls' native look
#   licenses\qt\                           Qt's licence texts and notices
# The build folder's bin gets the same, plus what only the tests use
# (Qt6Test.dll, platforms\qoffscreen.dll and qminimal.dll), so that the
# tests run from there under wine and a copy of the folder runs on a PC.
# The install rules (component gui) put only the first set into the tree.
include(${CMAKE_CURRENT_LIST_DIR}/WindowsResources.cmake)

ql_windows_resources(quaylink VERSION ${PROJECT_VERSION} ICON quaylink
                     DESCRIPTION "Quaylink communications server")
ql_windows_resources(rowsmith VERSION 1.01 ICON rowsmith DESCRIPTION "Rowsmith inventory file builder")
if(TARGET termsim)
  ql_windows_resources(termsim VERSION ${PROJECT_VERSION} DESCRIPTION "Quaylink terminal simulator")
endif()

# The programs and modules themselves are installed by packaging/windows, at
# the top of the tree (C:\Program Files\Quaylink); the Qt runtime goes beside them.
set(ql_app_dir .)

if(NOT TARGET Qt6::Widgets)
  return()
endif()

ql_windows_resources(quaylink_window VERSION ${PROJECT_VERSION}
                     DESCRIPTION "Quaylink operator window")
ql_windows_resources(rowsmith_window VERSION 1.01 DESCRIPTION "Rowsmith window")
ql_windows_resources(formwright VERSION 2.02 ICON formwright DESCRIPTION "Formwright Setup")
# formwright is a window and nothing else: no console window beside it.
set_target_properties(formwright PROPERTIES WIN32_EXECUTABLE ON)

# --- the Qt runtime ---
set(ql_qt_bin ${QT6_INSTALL_PREFIX}/bin)
set(ql_qt_plugins ${QT6_INSTALL_PREFIX}/plugins)
set(ql_qt_licenses ${QT6_INSTALL_PREFIX}/licenses)
set(ql_qt_shipped ${ql_qt_bin}/Qt6Core.dll ${ql_qt_bin}/Qt6Gui.dll ${ql_qt_bin}/Qt6Widgets.dll)
set(ql_qt_platform ${ql_qt_plugins}/platforms/qwindows.dll)
set(ql_qt_style ${ql_qt_plugins}/styles/qwindowsvistastyle.dll)
set(ql_qt_test_only ${ql_qt_bin}/Qt6Test.dll)
set(ql_qt_test_platforms ${ql_qt_plugins}/platforms/qoffscreen.dll
                         ${ql_qt_plugins}/platforms/qminimal.dll)
set(ql_qt_all ${ql_qt_shipped} ${ql_qt_platform} ${ql_qt_style} ${ql_qt_test_only}
              ${ql_qt_test_platforms})
foreach(file ${ql_qt_all})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "The Qt for Windows in ${QT6_INSTALL_PREFIX} has no ${file}: "
                        "rebuild it with tools/build-qt-windows.sh")
  endif()
endforeach()

# Into the build folder: each file to the place it has in the install tree.
set(ql_bin ${CMAKE_BINARY_DIR}/bin)
set(ql_copies "")
set(ql_copy_commands COMMAND ${CMAKE_COMMAND} -E make_directory ${ql_bin}/platforms
                     ${ql_bin}/styles)
foreach(pair "${ql_qt_shipped};." "${ql_qt_test_only};." "${ql_qt_platform};platforms"
             "${ql_qt_test_platforms};platforms" "${ql_qt_style};styles")
  list(POP_BACK pair subdir)
  foreach(file ${pair})
    get_filename_component(name ${file} NAME)
    list(APPEND ql_copies ${ql_bin}/${subdir}/${name})
    list(APPEND ql_copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file}
         ${ql_bin}/${subdir}/${name})
  endforeach()
endforeach()
add_custom_command(OUTPUT ${ql_copies} ${ql_copy_commands}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${ql_qt_licenses} ${ql_bin}/licenses/qt
  DEPENDS ${ql_qt_all}
  COMMENT "Qt for Windows beside the programs")
add_custom_target(ql_qt_runtime ALL DEPENDS ${ql_copies})

# --- install rules ---
install(FILES ${ql_qt_shipped} DESTINATION ${ql_app_dir} COMPONENT gui)
install(FILES ${ql_qt_platform} DESTINATION ${ql_app_dir}/platforms COMPONENT gui)
install(FILES ${ql_qt_style} DESTINATION ${ql_app_dir}/styles COMPONENT gui)
install(DIRECTORY ${ql_qt_licenses}/ DESTINATION ${ql_app_dir}/licenses/qt COMPONENT gui)
