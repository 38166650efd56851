# Windows resources of the suite's programs and window modules: a version
# resource (what Explorer shows under Properties > Details), and for
# programs the icon (IDI_ICON1, which Qt's windows also take as their
# title-bar icon) and the manifest (the common controls' current look,
# per-monitor DPI awareness, no elevation).
#
#   ql_windows_resources(TARGET VERSION 2.28 DESCRIPTION "text" [ICON name])
#
# ICON names packaging/windows-resources/<name>.ico; the manifest goes with
# it, since only programs carry either.
enable_language(RC)
set(ql_res_dir ${CMAKE_SOURCE_DIR}/packaging/windows-resources)

function(ql_windows_resources target)
  cmake_parse_arguments(R "" "VERSION;DESCRIPTION;ICON" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  get_target_property(output ${target} OUTPUT_NAME)
  if(NOT output)
    set(output ${target})
  endif()
  set(QL_RES_NAME ${output})
  set(QL_RES_DESCRIPTION "${R_DESCRIPTION}")
  set(QL_RES_VERSION ${R_VERSION})
  set(QL_RES_PRODUCT_VERSION ${PROJECT_VERSION})
  string(REPLACE "." "," commas "${R_VERSION}")
  set(QL_RES_VERSION_COMMAS "${commas},0,0")
  set(QL_RES_VERSION_DOTTED "${R_VERSION}.0.0")
  string(REPLACE "." "," commas "${PROJECT_VERSION}")
  set(QL_RES_PRODUCT_COMMAS "${commas},0,0")
  set(QL_RES_EXTRA "")
  set(inputs "")
  if(type STREQUAL "EXECUTABLE")
    set(QL_RES_FILE ${output}.exe)
    set(QL_RES_FILETYPE VFT_APP)
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${ql_res_dir}/program.manifest.in ${manifest} @ONLY)
    # 1 and 24: the process's own manifest (CREATEPROCESS_MANIFEST_RESOURCE_ID,
    # RT_MANIFEST).
    string(APPEND QL_RES_EXTRA "1 24 \"${manifest}\"\n")
    list(APPEND inputs ${manifest})
    if(R_ICON)
      string(APPEND QL_RES_EXTRA "IDI_ICON1 ICON \"${ql_res_dir}/${R_ICON}.ico\"\n")
      list(APPEND inputs ${ql_res_dir}/${R_ICON}.ico)
    endif()
  else()
    set(QL_RES_FILE ${output}.dll)
    set(QL_RES_FILETYPE VFT_DLL)
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
  configure_file(${ql_res_dir}/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # windres reads the icon and manifest: rebuild the resource when they change.
  if(inputs)
    set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS "${inputs}")
  endif()
endfunction()
