# The Debian packages made by cpack -G DEB from a shared build, one per install
# component as Debian ships a library: libqvxml1 (the shared object), libqvxml-dev
# (what building against it needs, the static archive included) and veltran (the
# program). A static build makes none: a package of its install would hold the
# headers and the archive that libqvxml-dev holds, so its cpack stops and says where
# the packages come from (cpack_project.cmake).

set(CPACK_PACKAGE_NAME "veltran")
set(CPACK_PACKAGE_VENDOR "veltran developers")
set(CPACK_PACKAGE_CONTACT "veltran developers <dev@veltran.invalid>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "veltran developers <dev@veltran.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake")
set(CPACK_QVXML_SHARED "${BUILD_SHARED_LIBS}")
set(CPACK_QVXML_DEBIAN_DIR "${PROJECT_BINARY_DIR}/debian")

# Every package carries its copyright notice and changelog in /usr/share/doc/<package>.
set(QVXML_DEBIAN_DOC "${PROJECT_BINARY_DIR}/debian-doc")
configure_file("${CMAKE_CURRENT_LIST_DIR}/changelog.in" "${QVXML_DEBIAN_DOC}/changelog" @ONLY)
if(QVXML_GZIP)
  execute_process(COMMAND "${QVXML_GZIP}" -9nf "${QVXML_DEBIAN_DOC}/changelog")
endif()
function(qvxml_debian_doc package component)
  install(FILES "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/copyright" "${QVXML_DEBIAN_DOC}/changelog.gz"
          DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}" COMPONENT ${component})
endfunction()
qvxml_debian_doc(veltran program)

if(NOT BUILD_SHARED_LIBS)
  include(CPack)
  return()
endif()

qvxml_debian_doc(libqvxml1 library)
qvxml_debian_doc(libqvxml-dev development)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL library development program)
# Each component's own summary is the first line of its description.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(QVXML_LIBRARY_TEXT "qvxml is a small XML support library: a lenient streaming reader
that hands tags, attributes and text to a table of callbacks, a document tree
of plain records with lookups, edits and printing, a tracked allocator with
locked memory, and conversion between code page 437 accented letters and HTML
entity names.")

# The program's dependencies come from dpkg-shlibdeps (package dpkg-dev) when it is
# installed; the library's are found when it is built (debian_symbols.cmake).
find_program(QVXML_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QVXML_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  if(SQLite3_FOUND) # --db
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libsqlite3-0")
  endif()
endif()

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME "libqvxml1")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION "libs")
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "lenient streaming XML reader and document tree library
${QVXML_LIBRARY_TEXT}
.
This package holds the shared library.")
# shlibs and symbols give the packages built against the library their dependency on
# it; the triggers file has dpkg run ldconfig. The package has no maintainer script,
# so removing it leaves nothing behind. CPack's own dependency search is off for it:
# it would add scripts that call ldconfig.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
    "${CPACK_QVXML_DEBIAN_DIR}/shlibs" "${CPACK_QVXML_DEBIAN_DIR}/symbols"
    "${CMAKE_CURRENT_LIST_DIR}/triggers")
add_custom_command(
  OUTPUT "${CPACK_QVXML_DEBIAN_DIR}/symbols" "${CPACK_QVXML_DEBIAN_DIR}/shlibs"
         "${CPACK_QVXML_DEBIAN_DIR}/depends"
  COMMAND "${CMAKE_COMMAND}" -DLIBRARY=$<TARGET_FILE:qvxml>
          -DPACKAGE=libqvxml1 -DDEV_PACKAGE=libqvxml-dev
          -DNM=${CMAKE_NM} -DREADELF=${CMAKE_READELF} -DSHLIBDEPS=${QVXML_DPKG_SHLIBDEPS}
          -DVERSION=${PROJECT_VERSION} -DOUTPUT_DIR=${CPACK_QVXML_DEBIAN_DIR}
          -P "${CMAKE_CURRENT_LIST_DIR}/debian_symbols.cmake"
  DEPENDS qvxml "${CMAKE_CURRENT_LIST_DIR}/debian_symbols.cmake"
  VERBATIM)
add_custom_target(qvxml_debian_symbols ALL DEPENDS "${CPACK_QVXML_DEBIAN_DIR}/symbols")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME "libqvxml-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
# Up to 1.0.0 the package veltran held the headers, the archive and qvxml(3).
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_BREAKS "veltran (<< 1.1.0)")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_REPLACES "veltran (<< 1.1.0)")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "lenient streaming XML reader and document tree library - development files
${QVXML_LIBRARY_TEXT}
.
This package holds the headers, the static library, the CMake package
(find_package(qvxml)), the pkg-config file and the qvxml(3) manual page.")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME "veltran")
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "converter of events-listing XML exports to flat records
veltran reads XML exports of artists, locations and scheduled events and
writes them as flat records, one per line, keeping marker files with the
newest timestamp seen.")
# dpkg-shlibdeps finds libqvxml.so.1 in the build tree; the package it comes from is
# named through the component dependency below.
get_target_property(QVXML_LIBRARY_DIR qvxml BINARY_DIR)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${QVXML_LIBRARY_DIR}")

set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
include(CPack)
cpack_add_component(library)
cpack_add_component(development DEPENDS library)
cpack_add_component(program DEPENDS library)
