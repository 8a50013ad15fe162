# Writes a gdk-pixbuf loader cache that lists one loader.
#   cmake -DQUERY_LOADERS=... -DMODULE=... -DOUTPUT=... [-DPRELOAD=lib.so] -P loader_cache.cmake
# PRELOAD: a library loaded into gdk-pixbuf-query-loaders before the loader
# (a sanitizer build's run-time, which the loader needs and the program lacks).
set(env "")
if(PRELOAD)
  # The program's own leaks are not the loader's to answer for.
  set(env ${CMAKE_COMMAND} -E env LD_PRELOAD=${PRELOAD} ASAN_OPTIONS=detect_leaks=0)
endif()
execute_process(COMMAND ${env} ${QUERY_LOADERS} ${MODULE}
  OUTPUT_FILE ${OUTPUT}.new ERROR_VARIABLE errors RESULT_VARIABLE result)
file(READ ${OUTPUT}.new cache)
if(NOT result EQUAL 0 OR NOT cache MATCHES "\"rq6\"")
  message(FATAL_ERROR "${QUERY_LOADERS} did not register ${MODULE} (${result}): ${errors}")
endif()
file(RENAME ${OUTPUT}.new ${OUTPUT})
