# Installs the SDK as a library: libezcam with its soname, the header, a
# pkg-config file, a CMake package with the imported target ezcam::ezcam, and
# the Python package beside them. ezcap, ezview and the udev rules are
# installed by their own folders.
include(CMakePackageConfigHelpers)

install(TARGETS ezcam EXPORT ezcamTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/ezcam.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(EZCAM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ezcam)
install(EXPORT ezcamTargets NAMESPACE ezcam:: DESTINATION ${EZCAM_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ezcamConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ezcamConfig.cmake INSTALL_DESTINATION ${EZCAM_CMAKE_DIR})
# 0.x releases break their interface between minor versions.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ezcamConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ezcamConfig.cmake ${PROJECT_BINARY_DIR}/ezcamConfigVersion.cmake
  DESTINATION ${EZCAM_CMAKE_DIR})

# ezcam.pc names the prefix installed to, which `cmake --install --prefix`
# may change: it is written at install time.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/ezcam.pc\")
  message(STATUS \"Installing: \${pc}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/ezcam.pc.in\" \"\${pc}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${pc}\")
")

# The Python package carries the SDK's version (pip reads it from there).
file(STRINGS ${PROJECT_SOURCE_DIR}/python/ezcam/_version.py EZCAM_PYTHON_VERSION
  REGEX "^__version__ = ")
if(NOT EZCAM_PYTHON_VERSION STREQUAL "__version__ = \"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "python/ezcam/_version.py says ${EZCAM_PYTHON_VERSION}, the project ${PROJECT_VERSION}")
endif()

# The Python package, with the library's place relative to it.
set(EZCAM_PYTHON_DIR lib/python3/dist-packages CACHE STRING
  "Where the Python package is installed, under the prefix")
file(RELATIVE_PATH EZCAM_PYTHON_TO_LIBRARY /prefix/${EZCAM_PYTHON_DIR}/ezcam
  /prefix/${CMAKE_INSTALL_LIBDIR}/libezcam.so.${PROJECT_VERSION_MAJOR})
file(WRITE ${PROJECT_BINARY_DIR}/python/_installed.py
  "# Written at build time: where libezcam is, from this package's folder.\n"
  "LIBRARY = \"${EZCAM_PYTHON_TO_LIBRARY}\"\n")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/ezcam DESTINATION ${EZCAM_PYTHON_DIR}
  PATTERN __pycache__ EXCLUDE)
install(FILES ${PROJECT_BINARY_DIR}/python/_installed.py DESTINATION ${EZCAM_PYTHON_DIR}/ezcam)
