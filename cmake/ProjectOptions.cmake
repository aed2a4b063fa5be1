# Warnings and sanitizers shared by every target of the project.

add_library(kq_project_options INTERFACE)
target_compile_options(kq_project_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  -Wnon-virtual-dtor -Woverloaded-virtual -Wnull-dereference -Wformat=2
  # g++ 12 warns falsely about overlapping copies inside std::string once it inlines
  # them (GCC bug 105329); later versions do not
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
# CI builds with KQ_WERROR=ON, so that a warning fails the build instead of scrolling by.
if(KQ_WERROR)
  target_compile_options(kq_project_options INTERFACE -Werror)
endif()
# <windows.h>, where a platform/win32 file includes it: without the min and max macros
# that break the standard library, without the rarely used parts, Windows 7 and later.
if(WIN32)
  add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
endif()
# With mingw-w64 each console program runs alone: the C++ runtime, libgcc and
# winpthread linked in. A program that uses Qt's DLLs shares their runtime DLLs
# instead (set_target_properties(... KQ_SHARED_RUNTIME ON)): two copies of the C++
# runtime in one process would each keep their own exception handling and statics.
if(MINGW)
  add_link_options(
    "$<$<AND:$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>,$<NOT:$<BOOL:$<TARGET_PROPERTY:KQ_SHARED_RUNTIME>>>>:-static;-static-libgcc;-static-libstdc++>")
endif()

if(KQ_SANITIZE AND KQ_TSAN)
  message(FATAL_ERROR "KQ_SANITIZE and KQ_TSAN cannot be combined")
endif()
if(KQ_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(KQ_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

find_package(Threads REQUIRED)

# kq_add_test(NAME name LABEL unit|gui|interop SOURCES ... LIBS ...)
# One GoogleTest executable, registered with CTest under its label.
function(kq_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  if(KQ_TSAN)
    target_sources(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/TsanQtSuppressions.cpp)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock
                        kq_project_options Threads::Threads)
  gtest_discover_tests(${T_NAME}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
