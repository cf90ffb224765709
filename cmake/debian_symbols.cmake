# Writes the Debian symbols file of the shared library: every symbol it exports,
# with the version that introduced it, so dpkg-shlibdeps gives a package built
# against the library the dependency it needs.
#     cmake -DLIBRARY=lib.so -DPACKAGE=name -DDEV_PACKAGE=name -DNM=nm -DREADELF=readelf
#           -DVERSION=x.y.z -DOUTPUT=file -P debian_symbols.cmake
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
  if(line MATCHES " [A-Za-z] ([^@ ]+)@@(.+)$")
    list(APPEND symbols " ${CMAKE_MATCH_1}@${CMAKE_MATCH_2} ${VERSION}")
  elseif(line MATCHES " A ([^@ ]+)$")
    list(APPEND symbols " ${CMAKE_MATCH_1}@${CMAKE_MATCH_1} ${VERSION}")
  endif()
endforeach()
list(SORT symbols)
list(JOIN symbols "\n" text)
file(WRITE "${OUTPUT}"
     "${soname} ${PACKAGE} #MINVER#\n* Build-Depends-Package: ${DEV_PACKAGE}\n${text}\n")
