# Helpers that let several folders grow file by file without editing CMake lists.

# kq_add_subdirectories(): add every direct subfolder that has a CMakeLists.txt.
function(kq_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# kq_add_test_per_file(PREFIX p LABEL l LIBS ... [EXCEPT files]): one test executable per
# *_test.cpp file of the current folder, named <p>_<file stem>, so that one unfinished test
# file never stops the others from building. The EXCEPT files are registered by hand.
function(kq_add_test_per_file)
  cmake_parse_arguments(A "" "PREFIX;LABEL;TIMEOUT" "LIBS;EXTRA_SOURCES;EXCEPT" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(test ${tests})
    get_filename_component(name ${test} NAME)
    if(name IN_LIST A_EXCEPT)
      continue()
    endif()
    get_filename_component(stem ${test} NAME_WE)
    kq_add_test(NAME ${A_PREFIX}_${stem} LABEL ${A_LABEL} TIMEOUT ${A_TIMEOUT}
                SOURCES ${test} ${A_EXTRA_SOURCES} LIBS ${A_LIBS})
  endforeach()
endfunction()
