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
file(WRITE "${OUTPUT}"
     "${soname} ${PACKAGE} #MINVER#\n* Build-Depends-Package: ${DEV_PACKAGE}\n${text}\n")
