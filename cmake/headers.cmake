# header_folder(TARGET SCOPE FOLDER): code built with TARGET (SCOPE as in
# target_include_directories) includes the headers of FOLDER, a folder of the source
# tree, as "FOLDER/<name>.h", and reaches nothing else of the source tree that way.
#
# The headers stay where they are, beside their sources; the include path is a
# folder of the build tree that holds a link to each one under FOLDER/. (A header
# file set cannot do this: its base folder goes on the include path, and the only
# base that gives "qvxml/<name>.h" is the repository root, with every other folder
# in it.) The headers directly in FOLDER are globbed, so one added there gets its link
# at the next build, with no change here; subfolders (tests/, internal/) have their
# own call or none. With SCOPE PUBLIC, the headers are also listed in TARGET's
# PUBLIC_HEADER property, which install(TARGETS) copies; a target built from another's
# objects takes them with SCOPE INTERFACE, so they are listed once.
function(header_folder target scope folder)
  string(REPLACE "/" "-" name "${folder}")
  set(root "${PROJECT_BINARY_DIR}/headers/${name}")
  file(GLOB headers CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.h"
       "${PROJECT_SOURCE_DIR}/${folder}/*.hpp")
  # anew at each configure, so a header removed or renamed loses its old link
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/${folder}")
  foreach(header IN LISTS headers)
    cmake_path(GET header FILENAME file)
    file(CREATE_LINK "${header}" "${root}/${folder}/${file}" SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} "$<BUILD_INTERFACE:${root}>")
  if(scope STREQUAL "PUBLIC")
    set_property(TARGET ${target} APPEND PROPERTY PUBLIC_HEADER ${headers})
  endif()
endfunction()
