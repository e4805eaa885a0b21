# Checks a built module file as a host's loader sees it. Run with cmake -P:
#   -DFORMAT=ELF -DTOOLS=<nm>|<objdump>   or   -DFORMAT=PE -DTOOLS=<target objdump>
#   -DTOOL_NAME=<what to install if a tool is missing> -DMODULE=<module file>
#
# Exports: exactly main and VSTPluginMain, plain and undecorated, both at one address.
# Dependencies: only the system's own libraries (glibc's on Linux; KERNEL32, msvcrt and the
# api-ms-win-* sets on Windows), never the compiler's runtime or threads library, which a host's
# machine may not have.
cmake_minimum_required(VERSION 3.25)

set(errors "")
macro(fail text)
  string(APPEND errors "  ${text}\n")
endmacro()

function(run_tool out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE error
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "'${ARGN}' failed (${status}): ${error}")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

if(NOT EXISTS "${MODULE}")
  message(FATAL_ERROR "module file '${MODULE}' does not exist")
endif()
string(REPLACE "|" ";" TOOLS "${TOOLS}")
foreach(tool IN LISTS TOOLS)
  if(NOT tool OR tool MATCHES "-NOTFOUND$")
    message(FATAL_ERROR "${TOOL_NAME} not found when the build was configured: install binutils "
                        "for this target and configure again")
  endif()
endforeach()

# Name -> address of each export, and the list of libraries the module needs.
set(names "")
set(needed "")
if(FORMAT STREQUAL "ELF")
  list(GET TOOLS 0 nm)
  list(GET TOOLS 1 objdump)
  # "<address> <type> <name>" per defined dynamic symbol.
  run_tool(listing ${nm} -D --defined-only "${MODULE}")
  string(REPLACE "\n" ";" lines "${listing}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([0-9a-fA-F]+) [A-Za-z] (.+)$")
      list(APPEND names "${CMAKE_MATCH_2}")
      set(address_${CMAKE_MATCH_2} "${CMAKE_MATCH_1}")
    elseif(NOT line STREQUAL "")
      fail("unexpected line from nm: '${line}'")
    endif()
  endforeach()
  run_tool(headers ${objdump} -p "${MODULE}")
  string(REGEX MATCHALL "\n *NEEDED +[^\n]+" lines "${headers}")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^\n *NEEDED +" "" library "${line}")
    list(APPEND needed "${library}")
  endforeach()
  set(system_library "^(libc|libm|libdl|libpthread|librt)\\.so\\.[0-9]+$|^ld-linux[-a-z0-9_.]*\\.so\\.[0-9]+$")
  set(required_library "libc.so.6")
elseif(FORMAT STREQUAL "PE")
  list(GET TOOLS 0 objdump)
  run_tool(headers ${objdump} -p "${MODULE}")
  # The export address table: "[   0] +base[   1] 1370 Export RVA"; the name table that follows
  # it: "[   0] VSTPluginMain", the number being the entry's index in the address table.
  string(REPLACE "\n" ";" lines "${headers}")
  set(section "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^Export Address Table")
      set(section addresses)
    elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
      set(section names)
    elseif(line STREQUAL "")
      set(section "")
    elseif(section STREQUAL "addresses" AND line MATCHES "^\t\\[ *([0-9]+)\\] \\+base\\[ *[0-9]+\\] +([0-9a-fA-F]+) ")
      set(rva_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    elseif(section STREQUAL "names" AND line MATCHES "^\t\\[ *([0-9]+)\\] (.+)$")
      list(APPEND names "${CMAKE_MATCH_2}")
      set(address_${CMAKE_MATCH_2} "${rva_${CMAKE_MATCH_1}}")
    endif()
    if(line MATCHES "^\tDLL Name: (.+)$")
      list(APPEND needed "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(system_library "^([Kk][Ee][Rr][Nn][Ee][Ll]32|[Mm][Ss][Vv][Cc][Rr][Tt]|[Uu][Cc][Rr][Tt][Bb][Aa][Ss][Ee]|[Aa][Pp][Ii]-[Mm][Ss]-[Ww][Ii][Nn]-[-a-zA-Z0-9]+)\\.[Dd][Ll][Ll]$")
  set(required_library "KERNEL32.dll")
else()
  message(FATAL_ERROR "FORMAT must be ELF or PE, not '${FORMAT}'")
endif()

list(SORT names)
if(NOT names STREQUAL "VSTPluginMain;main")
  fail("exports are [${names}]; expected exactly [VSTPluginMain;main]")
elseif(NOT address_main STREQUAL address_VSTPluginMain OR address_main STREQUAL "")
  fail("main (at '${address_main}') and VSTPluginMain (at '${address_VSTPluginMain}') "
       "are not one function")
endif()

foreach(library IN LISTS needed)
  if(NOT library MATCHES "${system_library}")
    fail("needs ${library}, which is not a system library")
  endif()
endforeach()
# An empty list would mean the listing was not understood, not that nothing is needed.
if(NOT required_library IN_LIST needed)
  fail("needed libraries [${needed}] do not include ${required_library}")
endif()

if(errors)
  message(FATAL_ERROR "${MODULE}:\n${errors}")
endif()
message(STATUS "${MODULE}: exports [${names}] at ${address_main}; needs [${needed}]")
