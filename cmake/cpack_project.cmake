# Read by cpack for each generator it runs (CPACK_PROJECT_CONFIG_FILE), with the
# variables of the build's CPackConfig.cmake.

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

# Debian packages come from a shared build, which makes the static archive too; a
# package of a static build's install would collide with libqvxml-dev.
if(NOT CPACK_QVXML_SHARED)
  message(FATAL_ERROR "The Debian packages (libqvxml1, libqvxml-dev, veltran) come from "
                      "a shared build, which also makes the static library; this build is "
                      "static, so it makes none. Build them with:\n"
                      "  cmake --workflow --preset package\n"
                      "(see docs/packaging.md)")
endif()

# The library package's Depends, found when the library was built (debian_symbols.cmake).
file(READ "${CPACK_QVXML_DEBIAN_DIR}/depends" CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS)
