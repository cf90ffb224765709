# Writes into OUTPUT_DIR what the library's Debian package declares about the shared
# library, from the built library itself:
# - symbols: every symbol it exports, with the version that introduced it, so
#   dpkg-shlibdeps gives a package built against the library the dependency it needs;
# - shlibs: the same for tools that read only shlibs, the current release;
# - depends: the package's own Depends line, from dpkg-shlibdeps when SHLIBDEPS names
#   it. (CPack would find that line too, but then adds maintainer scripts that call
#   ldconfig, which the package's triggers file already does.)
#     cmake -DLIBRARY=lib.so -DPACKAGE=name -DDEV_PACKAGE=name -DNM=nm -DREADELF=readelf
#           -DSHLIBDEPS=dpkg-shlibdeps -DVERSION=x.y.z -DOUTPUT_DIR=dir -P debian_symbols.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${READELF}" -d "${LIBRARY}"
                OUTPUT_VARIABLE dynamic COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "Library soname: \\[([^]]+)\\]" unused "${dynamic}")
set(soname "${CMAKE_MATCH_1}")
string(REPLACE "\n" ";" lines "${listing}")
set(symbols "")
foreach(line IN LISTS lines)
  # "address type name@@node", or "address A node" for the version node itself
  # a symbol dates from the release of its node: QVXML_1 is 1.0.0, QVXML_1.N is 1.N.0
  if(line MATCHES " [A-Za-z] ([^@ ]+)@@(.+)$")
    set(symbol "${CMAKE_MATCH_1}")
    set(node "${CMAKE_MATCH_2}")
  elseif(line MATCHES " A ([^@ ]+)$")
    set(symbol "${CMAKE_MATCH_1}")
    set(node "${CMAKE_MATCH_1}")
  else()
    continue()
  endif()
  string(REGEX REPLACE "^QVXML_([0-9]+)$" "\\1.0.0" since "${node}")
  string(REGEX REPLACE "^QVXML_([0-9]+)\\.([0-9]+)$" "\\1.\\2.0" since "${since}")
  list(APPEND symbols " ${symbol}@${node} ${since}")
endforeach()
list(SORT symbols)
list(JOIN symbols "\n" text)
file(WRITE "${OUTPUT_DIR}/symbols"
     "${soname} ${PACKAGE} #MINVER#\n* Build-Depends-Package: ${DEV_PACKAGE}\n${text}\n")
# "libqvxml.so.1" is "libqvxml 1" in shlibs
string(REGEX REPLACE "^(.+)[.]so[.]([^.]+)$" "\\1 \\2" shlib "${soname}")
file(WRITE "${OUTPUT_DIR}/shlibs" "${shlib} ${PACKAGE} (>= ${VERSION})\n")

set(depends "libc6, libgcc-s1, libstdc++6")
if(SHLIBDEPS)
  # dpkg-shlibdeps wants to run where a debian/control is, as in a package's source
  file(WRITE "${OUTPUT_DIR}/shlibdeps/debian/control" "")
  execute_process(COMMAND "${SHLIBDEPS}" -O "${LIBRARY}"
                  WORKING_DIRECTORY "${OUTPUT_DIR}/shlibdeps"
                  OUTPUT_VARIABLE found ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "^shlibs:Depends=([^\n]*).*$" "\\1" depends "${found}")
endif()
file(WRITE "${OUTPUT_DIR}/depends" "${depends}")
