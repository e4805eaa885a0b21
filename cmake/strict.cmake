include(${CMAKE_CURRENT_LIST_DIR}/sanitize.cmake)

# Compiler settings every target of the project shares.
#
# Results must be the same bits on every target: no contraction of a*b+c into one rounding, no
# fast-math, and SSE arithmetic on 32-bit x86 where x87 would keep excess precision.
function(tf_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -ffp-contract=off -fno-fast-math)
  if(TF_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # clang reports the audio loop's vectorisation hints as failed where it picks another plan.
    target_compile_options(${target} PRIVATE -Wno-pass-failed)
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86|AMD64|x86_64)$")
    target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  tf_sanitize(${target})
endfunction()
