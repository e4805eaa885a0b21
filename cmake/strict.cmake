include(${CMAKE_CURRENT_LIST_DIR}/sanitize.cmake)

if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86|AMD64|x86_64)$")
  set(TF_X86_32 ON)
else()
  set(TF_X86_32 OFF)
endif()

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
  if(TF_X86_32)
    target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse -mstackrealign)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  tf_sanitize(${target})
endfunction()

# Sources reached only through entry functions that realign the stack themselves
# (TF_AUDIO_ENTRY): on 32-bit x86 they are built to rely on an aligned stack, which leaves their
# loops the register that realigning in every function takes. Source properties belong to the
# calling directory, so give paths as that directory sees them.
function(tf_aligned_stack_sources)
  if(TF_X86_32)
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS -mno-stackrealign)
  endif()
endfunction()
