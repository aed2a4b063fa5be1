# A library the build needs and does not find stops the configuration with the Debian
# package that brings it, instead of leaving out what depends on it.

# kq_require_package(<Name> DEBIAN <package> [COMPONENTS ...]): find_package(<Name>).
macro(kq_require_package name)
  cmake_parse_arguments(_kq_require "" "DEBIAN" "COMPONENTS" ${ARGN})
  if(_kq_require_COMPONENTS)
    find_package(${name} QUIET COMPONENTS ${_kq_require_COMPONENTS})
  else()
    find_package(${name} QUIET)
  endif()
  if(NOT ${name}_FOUND)
    string(JOIN " " _kq_require_what ${name} ${_kq_require_COMPONENTS})
    message(FATAL_ERROR "${_kq_require_what} not found: install the Debian package "
                        "${_kq_require_DEBIAN} (scripts/install-deps.sh installs it)")
  endif()
endmacro()

# kq_find_pkg_config(<PREFIX> <module>): the global target PkgConfig::<PREFIX> when
# pkg-config knows <module>; <PREFIX>_FOUND tells.
macro(kq_find_pkg_config prefix module)
  if(NOT TARGET PkgConfig::${prefix})
    find_package(PkgConfig QUIET)
    if(NOT PkgConfig_FOUND)
      message(FATAL_ERROR "pkg-config not found: install the Debian package pkg-config")
    endif()
    pkg_check_modules(${prefix} QUIET IMPORTED_TARGET GLOBAL ${module})
  endif()
  if(TARGET PkgConfig::${prefix})
    set(${prefix}_FOUND TRUE)
  else()
    set(${prefix}_FOUND FALSE)
  endif()
endmacro()

# kq_require_pkg_config(<PREFIX> <module> DEBIAN <package>): PkgConfig::<PREFIX>.
macro(kq_require_pkg_config prefix module)
  cmake_parse_arguments(_kq_require "" "DEBIAN" "" ${ARGN})
  kq_find_pkg_config(${prefix} ${module})
  if(NOT ${prefix}_FOUND)
    message(FATAL_ERROR "${module} not found: install the Debian package ${_kq_require_DEBIAN} "
                        "(scripts/install-deps.sh installs it)")
  endif()
endmacro()

# kq_require_libmodbus(): PkgConfig::LIBMODBUS, the independent peer of the interop tests
# and benchmarks. With KQ_SKIP_PEERS=1 in the environment a missing libmodbus is only
# reported; the tests against it then skip, as every test against a missing peer does.
macro(kq_require_libmodbus)
  if("$ENV{KQ_SKIP_PEERS}" STREQUAL "1")
    kq_find_pkg_config(LIBMODBUS libmodbus)
    if(NOT LIBMODBUS_FOUND)
      message(STATUS "libmodbus not found (libmodbus-dev): its interop tests skip (KQ_SKIP_PEERS=1)")
    endif()
  else()
    kq_require_pkg_config(LIBMODBUS libmodbus DEBIAN libmodbus-dev)
  endif()
endmacro()
