# AddressSanitizer and UndefinedBehaviorSanitizer for every target, when TF_SANITIZE is ON.
#
# Any finding stops the program (-fno-sanitize-recover=all), so a test that triggers one fails.
# GCC leaves float-cast-overflow out of -fsanitize=undefined; it is named on its own so that a
# float converted to an integer it does not fit is caught with either compiler (clang includes it
# in the group already, naming it again is harmless).
set(TF_SANITIZE_FLAGS -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)

# GCC's middle-end warnings misfire on instrumented code (a correct strncpy followed by its own
# terminator is reported as truncation). The regular build keeps them as errors; here they stay
# warnings.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(TF_SANITIZE_WARNINGS -Wno-error=stringop-truncation -Wno-error=stringop-overflow
                           -Wno-error=maybe-uninitialized -Wno-error=array-bounds)
endif()

# A module that carries a static copy of the C++ runtime leaves that runtime's emergency exception
# pool behind when it is unloaded (LeakSanitizer reports it as lost, with no frame to match a
# suppression), and its own operator new escapes the checks of new/delete pairs. Sanitized builds
# link the C++ runtime of modules and shared libraries dynamically: the static option is dropped
# once the directory that made the target has set its options.
function(tf_sanitize_dynamic_runtime target)
  get_target_property(options ${target} LINK_OPTIONS)
  if(options)
    list(REMOVE_ITEM options -static-libstdc++)
    set_property(TARGET ${target} PROPERTY LINK_OPTIONS ${options})
  endif()
endfunction()

function(tf_sanitize target)
  if(NOT TF_SANITIZE)
    return()
  endif()
  target_compile_options(${target} PRIVATE ${TF_SANITIZE_FLAGS} ${TF_SANITIZE_WARNINGS})
  # Static libraries are never linked on their own: their consumers link the runtime.
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "OBJECT_LIBRARY")
    target_link_options(${target} INTERFACE ${TF_SANITIZE_FLAGS})
  else()
    target_link_options(${target} PRIVATE ${TF_SANITIZE_FLAGS})
  endif()
  if(type STREQUAL "MODULE_LIBRARY" OR type STREQUAL "SHARED_LIBRARY")
    cmake_language(EVAL CODE "cmake_language(DEFER CALL tf_sanitize_dynamic_runtime [[${target}]])")
  endif()
endfunction()
