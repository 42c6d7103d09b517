# tv_subsystem(NAME [DEPENDS lib...]): every .cpp of the calling folder that is
# not a test becomes the static library tv_NAME; every *_test.cpp goes into the
# test executable NAME_test, linked with the library and the shared test main.
# Globbing keeps the folders independent: adding a file needs no CMake edit.
function(tv_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;TEST_DEPENDS" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(lib_sources "")
  set(test_sources "")
  foreach(src IN LISTS all_sources)
    if(src MATCHES "_test\\.cpp$")
      list(APPEND test_sources ${src})
    else()
      list(APPEND lib_sources ${src})
    endif()
  endforeach()
  if(lib_sources)
    add_library(tv_${name} STATIC ${lib_sources})
    target_include_directories(tv_${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(tv_${name} PUBLIC ${ARG_DEPENDS})
  else()
    # A folder of headers only (templates) so far.
    add_library(tv_${name} INTERFACE)
    target_include_directories(tv_${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(tv_${name} INTERFACE ${ARG_DEPENDS})
  endif()
  if(test_sources)
    tv_add_test_executable(${name}_test SOURCES ${test_sources}
                           LIBS tv_${name} ${ARG_TEST_DEPENDS})
  endif()
endfunction()
