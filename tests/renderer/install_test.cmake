# Installs the build into a scratch prefix and checks that the installed command finds the
# installed module (<prefix>/bin/tempoflanger with <prefix>/lib/vst/TempoFlanger.so), and that a
# command copied into one folder with the module finds it beside itself.
#   cmake -DBUILD_DIR=<build tree> -DWORK_DIR=<scratch folder> -P install_test.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(REAL_PATH "${WORK_DIR}" work)

execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${work}/prefix"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

function(expect_module command module)
  execute_process(COMMAND "${command}" info RESULT_VARIABLE result OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${command} info failed: ${err}")
  endif()
  if(NOT out MATCHES "(^|\n)module +${module}\n")
    message(FATAL_ERROR "${command} info did not load ${module}:\n${out}")
  endif()
  execute_process(COMMAND "${command}" render -o "${work}/demo.wav" --quiet
                  RESULT_VARIABLE result ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT EXISTS "${work}/demo.wav")
    message(FATAL_ERROR "${command} render failed: ${err}")
  endif()
  file(REMOVE "${work}/demo.wav")
endfunction()

expect_module("${work}/prefix/bin/tempoflanger" "${work}/prefix/lib/vst/TempoFlanger.so")

file(MAKE_DIRECTORY "${work}/flat")
file(COPY "${work}/prefix/bin/tempoflanger" "${work}/prefix/lib/vst/TempoFlanger.so"
     DESTINATION "${work}/flat")
expect_module("${work}/flat/tempoflanger" "${work}/flat/TempoFlanger.so")

file(REMOVE_RECURSE "${WORK_DIR}")
