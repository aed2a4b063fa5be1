# CLI11 and nlohmann-json for a cross build: both are header-only, so the build
# machine's Debian packages serve the target too. Only their own folders are put on
# the include path (through links in the build folder), never /usr/include, whose C
# library headers are not the target's.
set(kq_host_headers ${CMAKE_BINARY_DIR}/host-headers)
foreach(folder CLI nlohmann)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: install libcli11-dev and nlohmann-json3-dev")
  endif()
  file(MAKE_DIRECTORY ${kq_host_headers})
  if(NOT EXISTS ${kq_host_headers}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${kq_host_headers}/${folder} SYMBOLIC)
  endif()
endforeach()
foreach(target CLI11::CLI11 nlohmann_json::nlohmann_json)
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${kq_host_headers})
  endif()
endforeach()
