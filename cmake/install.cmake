# Installation, the qvxml CMake package, the pkg-config file, the man pages, the
# Debian package and the tests that check all of them from the outside.
# Included once from the top-level CMakeLists.txt, after the targets exist.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QVXML_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/qvxml")

install(TARGETS veltran RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS qvxml EXPORT qvxmlTargets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")

# Every header beside the sources is public; they include each other as
# "qvxml/<name>.h", so they keep that folder. Taken at install time, so a header
# added later needs no change here.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/qvxml/"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/qvxml"
        FILES_MATCHING PATTERN "*.h"
        PATTERN "tests" EXCLUDE)

# CMake package: find_package(qvxml CONFIG) gives the imported target qvxml::qvxml.
install(EXPORT qvxmlTargets NAMESPACE qvxml:: DESTINATION "${QVXML_CMAKE_DIR}")
configure_package_config_file(
  "${PROJECT_SOURCE_DIR}/cmake/qvxmlConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/qvxmlConfig.cmake"
  INSTALL_DESTINATION "${QVXML_CMAKE_DIR}")
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/qvxmlConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/qvxmlConfig.cmake"
              "${PROJECT_BINARY_DIR}/qvxmlConfigVersion.cmake"
        DESTINATION "${QVXML_CMAKE_DIR}")

# pkg-config: the prefix is found from the file's own place, so the same file
# serves an install under any --prefix given to cmake --install and the .deb.
set(QVXML_PC_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
file(RELATIVE_PATH QVXML_PC_TO_PREFIX "/prefix/${QVXML_PC_DIR}" "/prefix")
string(REGEX REPLACE "/$" "" QVXML_PC_TO_PREFIX "${QVXML_PC_TO_PREFIX}")
file(RELATIVE_PATH QVXML_PC_LIBDIR "/prefix" "/prefix/${CMAKE_INSTALL_LIBDIR}")
file(RELATIVE_PATH QVXML_PC_INCLUDEDIR "/prefix" "/prefix/${CMAKE_INSTALL_INCLUDEDIR}")
configure_file("${PROJECT_SOURCE_DIR}/cmake/qvxml.pc.in" "${PROJECT_BINARY_DIR}/qvxml.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/qvxml.pc" DESTINATION "${QVXML_PC_DIR}")

install(FILES "${PROJECT_SOURCE_DIR}/man/veltran.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${PROJECT_SOURCE_DIR}/man/qvxml.3" DESTINATION "${CMAKE_INSTALL_MANDIR}/man3")
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# Debian package: cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME "veltran")
set(CPACK_PACKAGE_VENDOR "veltran developers")
set(CPACK_PACKAGE_CONTACT "veltran developers <dev@veltran.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "converter of events-listing XML exports to flat records, with the qvxml library")
set(CPACK_PACKAGE_DESCRIPTION
    "veltran reads XML exports of artists, locations and scheduled events and writes \
them as flat records, one per line, keeping marker files with the newest timestamp \
seen. The package also holds qvxml, the static XML support library beneath it, with \
its headers, a CMake package and a pkg-config file.")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "veltran developers <dev@veltran.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps (package dpkg-dev) states the exact library versions; without it
# the package names the libraries the program is linked against.
find_program(QVXML_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QVXML_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()
include(CPack)

if(QVXML_BUILD_TESTS)
  find_program(QVXML_GROFF groff)
  if(QVXML_GROFF)
    add_test(NAME man_pages_render_without_warnings
             COMMAND sh "${PROJECT_SOURCE_DIR}/tests/check_man.sh" "${QVXML_GROFF}"
                     "${PROJECT_SOURCE_DIR}/man/veltran.1" "${PROJECT_SOURCE_DIR}/man/qvxml.3")
  endif()

  # A static library built with the sanitizers needs their runtime in every program
  # linked against it, the consumer included.
  set(QVXML_CONSUMER_FLAGS "")
  if(QVXML_SANITIZE OR QVXML_FUZZ)
    set(QVXML_CONSUMER_FLAGS "-fsanitize=address,undefined")
  endif()
  add_test(NAME installed_package_builds_a_consumer
           COMMAND sh "${PROJECT_SOURCE_DIR}/tests/consumer_test.sh" "${PROJECT_BINARY_DIR}"
                   "${PROJECT_SOURCE_DIR}/tests/consumer" "${CMAKE_COMMAND}" "${CMAKE_CXX_COMPILER}"
                   "${QVXML_CONSUMER_FLAGS}")
  set_tests_properties(installed_package_builds_a_consumer PROPERTIES TIMEOUT 600)

  find_program(QVXML_DPKG_DEB dpkg-deb)
  if(QVXML_DPKG_DEB)
    add_test(NAME debian_package_holds_the_install
             COMMAND sh "${PROJECT_SOURCE_DIR}/tests/package_test.sh" "${PROJECT_BINARY_DIR}"
                     "${PROJECT_SOURCE_DIR}" "${CMAKE_CPACK_COMMAND}")
    set_tests_properties(debian_package_holds_the_install PROPERTIES TIMEOUT 600)
  endif()
endif()
