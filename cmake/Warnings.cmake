# Warnings for every target of the project.
add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)

# ql_library(NAME LINKS <libs...> SOURCES <files...>): a static library with its
# public headers in include/. While a subsystem has no sources yet it is an
# interface library, so that the libraries above it can already link to it.
function(ql_library name)
  cmake_parse_arguments(L "" "" "SOURCES;LINKS" ${ARGN})
  if(L_SOURCES)
    add_library(${name} STATIC ${L_SOURCES})
    target_include_directories(${name} PUBLIC include)
    target_link_libraries(${name} PUBLIC ${L_LINKS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE include)
    target_link_libraries(${name} INTERFACE ${L_LINKS})
  endif()
endfunction()
