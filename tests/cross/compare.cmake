# Runs the Linux program twice and, if given, the Win32 one under Wine (the
# Wine prefix comes from the test), and requires identical output.
function(run_cross name)
  execute_process(COMMAND ${ARGN} OUTPUT_FILE ${OUT_DIR}/${name}.txt
    ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${name}: ${ARGN} failed (${rc}): ${err}")
  endif()
  file(SIZE ${OUT_DIR}/${name}.txt size)
  if(size LESS 100000)
    message(FATAL_ERROR "${name}: only ${size} bytes of output")
  endif()
endfunction()

function(require_same a b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT_DIR}/${a}.txt ${OUT_DIR}/${b}.txt
    RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${OUT_DIR}/${a}.txt and ${OUT_DIR}/${b}.txt differ")
  endif()
  message(STATUS "${a} and ${b}: identical")
endfunction()

run_cross(linux_1 ${LINUX_EXE})
run_cross(linux_2 ${LINUX_EXE})
require_same(linux_1 linux_2)
if(WIN32_EXE)
  if(NOT EXISTS ${WIN32_EXE})
    # ctest reports the test as skipped on this line.
    message("skipped: ${WIN32_EXE} is not built (cmake --preset win32 && cmake --build --preset win32)")
    return()
  endif()
  run_cross(win32 bash ${WINE} run ${WIN32_EXE})
  require_same(linux_1 win32)
endif()
