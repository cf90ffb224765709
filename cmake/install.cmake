# Installation, the qvxml CMake package, the pkg-config file, the man pages, the
# Debian packages and the tests that check all of them from the outside.
# Included once from the top-level CMakeLists.txt, after the targets exist.

include(CMakePackageConfigHelpers)

set(QVXML_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/qvxml")

# Components, one per Debian package of a shared build: "program" (veltran),
# "library" (libqvxml1: the versioned shared object) and "development"
# (libqvxml-dev: the public headers, the unversioned link, the static archive, the
# CMake and pkg-config packages, qvxml(3)). Only the program of the converter is
# installed, never a library or header of its own.
install(TARGETS veltran RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT program)
install(TARGETS ${QVXML_TARGETS} EXPORT qvxmlTargets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT library
                NAMELINK_COMPONENT development
        PUBLIC_HEADER DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/qvxml" COMPONENT development)
# A stripped install (cpack, cmake --install --strip) takes the debug information out
# of the static archive too, as Debian's -dev packages carry it; install(TARGETS)
# strips only programs and shared objects.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libqvxml.a\")
endif()" COMPONENT development)
# The installed program finds the shared library from its own place, whatever prefix
# the install is given (cmake --install --prefix), without LD_LIBRARY_PATH.
if(BUILD_SHARED_LIBS)
  file(RELATIVE_PATH QVXML_BIN_TO_LIB "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
  set_target_properties(veltran PROPERTIES INSTALL_RPATH "$ORIGIN/${QVXML_BIN_TO_LIB}")
endif()

# The kind built, named by the CMake package and qvxml.pc. A shared library brings
# its own dependencies; a static one leaves them to the program linked against it.
if(BUILD_SHARED_LIBS)
  set(QVXML_KIND "shared and static")
  set(QVXML_PC_LIBS "Libs: -L\${libdir} -lqvxml\nLibs.private: -lpthread")
else()
  set(QVXML_KIND static)
  set(QVXML_PC_LIBS "Libs: -L\${libdir} -lqvxml -lpthread")
endif()

# CMake package: find_package(qvxml CONFIG) gives the imported target qvxml::qvxml,
# and in a shared build's install the static library too, as qvxml::qvxml_static.
install(EXPORT qvxmlTargets NAMESPACE qvxml:: DESTINATION "${QVXML_CMAKE_DIR}"
        COMPONENT development)
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
        DESTINATION "${QVXML_CMAKE_DIR}" COMPONENT development)

# pkg-config: plain paths under the prefix the install is made to (that of
# cmake --install --prefix, /usr in the .deb), so that pkg-config knows /usr/include
# and the system's library folder for what they are and leaves them out. The prefix
# is known only when the install runs, so the file is written then, each install
# into a folder of its own (installs from one build tree may run at once).
set(QVXML_PC_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
file(RELATIVE_PATH QVXML_PC_LIBDIR "/prefix" "/prefix/${CMAKE_INSTALL_LIBDIR}")
file(RELATIVE_PATH QVXML_PC_INCLUDEDIR "/prefix" "/prefix/${CMAKE_INSTALL_INCLUDEDIR}")
set(QVXML_PC_PREFIX "@QVXML_PC_PREFIX@") # kept for the install to fill in
configure_file("${PROJECT_SOURCE_DIR}/cmake/qvxml.pc.in" "${PROJECT_BINARY_DIR}/qvxml.pc.in" @ONLY)
install(CODE "
  cmake_path(SET QVXML_PC_PREFIX NORMALIZE \"\${CMAKE_INSTALL_PREFIX}\")
  string(REGEX REPLACE \"(.)/$\" \"\\\\1\" QVXML_PC_PREFIX \"\${QVXML_PC_PREFIX}\")
  string(MD5 qvxml_pc_where \"\$ENV{DESTDIR}\${QVXML_PC_PREFIX}\")
  string(RANDOM LENGTH 8 qvxml_pc_folder)
  set(qvxml_pc_folder \"${PROJECT_BINARY_DIR}/qvxml-pc-\${qvxml_pc_where}-\${qvxml_pc_folder}\")
  configure_file(\"${PROJECT_BINARY_DIR}/qvxml.pc.in\" \"\${qvxml_pc_folder}/qvxml.pc\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${QVXML_PC_DIR}\" TYPE FILE
       FILES \"\${qvxml_pc_folder}/qvxml.pc\")
  file(REMOVE_RECURSE \"\${qvxml_pc_folder}\")" COMPONENT development)

# Man pages are installed compressed, as man(1) finds them on every distribution.
find_program(QVXML_GZIP gzip)
foreach(page IN ITEMS veltran.1:program qvxml.3:development)
  string(REPLACE ":" ";" page "${page}")
  list(GET page 0 name)
  list(GET page 1 component)
  string(REGEX REPLACE ".*[.]" "man" section "${name}")
  set(file "${PROJECT_SOURCE_DIR}/man/${name}")
  if(QVXML_GZIP)
    configure_file("${file}" "${PROJECT_BINARY_DIR}/man/${name}" COPYONLY)
    execute_process(COMMAND "${QVXML_GZIP}" -9nf "${PROJECT_BINARY_DIR}/man/${name}")
    set(file "${PROJECT_BINARY_DIR}/man/${name}.gz")
  endif()
  install(FILES "${file}" DESTINATION "${CMAKE_INSTALL_MANDIR}/${section}" COMPONENT ${component})
endforeach()
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${CMAKE_INSTALL_DOCDIR}"
        COMPONENT program)

# Debian packages: cpack -G DEB in the build folder.
include("${CMAKE_CURRENT_LIST_DIR}/debian.cmake")

if(QVXML_BUILD_TESTS)
  # These tests install, package and build against what they installed; they carry
  # the label "package", so a quick loop can leave them out (ctest --preset quick).
  # A test whose tool is missing exits with 77 and is reported as skipped.

  # A static library built with the sanitizers needs their runtime in every program
  # linked against it, the consumer included.
  set(QVXML_CONSUMER_FLAGS "")
  if(QVXML_SANITIZE)
    set(QVXML_CONSUMER_FLAGS "-fsanitize=${QVXML_SANITIZERS}")
  endif()
  add_test(NAME installed_package_builds_a_consumer
           COMMAND sh "${PROJECT_SOURCE_DIR}/tests/consumer_test.sh" "${PROJECT_BINARY_DIR}"
                   "${PROJECT_SOURCE_DIR}/tests/consumer" "${CMAKE_COMMAND}" "${CMAKE_CXX_COMPILER}"
                   "${QVXML_CONSUMER_FLAGS}")
  # cpack on a static build makes no package, and says where the packages come from.
  add_test(NAME static_build_makes_no_package
           COMMAND "${CMAKE_CPACK_COMMAND}" -G DEB --config "${PROJECT_BINARY_DIR}/CPackConfig.cmake"
                   -B "${PROJECT_BINARY_DIR}/no-package")
  set_tests_properties(static_build_makes_no_package PROPERTIES
                       PASS_REGULAR_EXPRESSION "cmake --workflow --preset package")
  set(QVXML_INSTALL_TESTS installed_package_builds_a_consumer static_build_makes_no_package)

  # The shared library, built beside this tree as the packages are (without the
  # sanitizers, which the suite itself covers) and checked from the outside:
  # installed into a prefix and consumed, and its Debian packages with its exports.
  if(NOT QVXML_SANITIZE)
    set(QVXML_SHARED_DIR "${PROJECT_BINARY_DIR}/shared")
    add_test(NAME shared_library_builds
             COMMAND "${CMAKE_CTEST_COMMAND}" --build-and-test "${PROJECT_SOURCE_DIR}"
                     "${QVXML_SHARED_DIR}" --build-generator "${CMAKE_GENERATOR}" --build-noclean
                     --build-options -DBUILD_SHARED_LIBS=ON -DQVXML_BUILD_TESTS=OFF
                                     -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVXML_WERROR=${QVXML_WERROR}
                                     -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER})
    set_tests_properties(shared_library_builds PROPERTIES FIXTURES_SETUP qvxml_shared
                         ENVIRONMENT "MAKEFLAGS=-j2")
    add_test(NAME shared_library_builds_a_consumer
             COMMAND sh "${PROJECT_SOURCE_DIR}/tests/consumer_test.sh" "${QVXML_SHARED_DIR}"
                     "${PROJECT_SOURCE_DIR}/tests/consumer" "${CMAKE_COMMAND}"
                     "${CMAKE_CXX_COMPILER}")
    add_test(NAME debian_packages_of_the_shared_library
             COMMAND sh "${PROJECT_SOURCE_DIR}/tests/package_test.sh" "${QVXML_SHARED_DIR}"
                     "${PROJECT_SOURCE_DIR}" "${CMAKE_CPACK_COMMAND}"
                     "${PROJECT_SOURCE_DIR}/tests/debian_packages.txt")
    set_tests_properties(shared_library_builds_a_consumer
                         debian_packages_of_the_shared_library
                         PROPERTIES FIXTURES_REQUIRED qvxml_shared)
    list(APPEND QVXML_INSTALL_TESTS shared_library_builds shared_library_builds_a_consumer
         debian_packages_of_the_shared_library)
  endif()
  set_tests_properties(${QVXML_INSTALL_TESTS} PROPERTIES LABELS package TIMEOUT 900
                       SKIP_RETURN_CODE 77)
endif()
