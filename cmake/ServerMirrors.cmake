# updater_server_mirrors(TARGET HOSTS...): a static library defining BuiltInServerMirrors(), the hosts asked in
# turn, same path, for a version-info file the built-in update server fails to deliver. A host that is no
# bare host name (letters, digits, "." and "-") stops the configuration with a message that names it.
function(updater_server_mirrors target)
  foreach(host IN LISTS ARGN)
    if(NOT host MATCHES "^[A-Za-z0-9.-]+$")
      message(FATAL_ERROR "server mirror \"${host}\" is no host name (letters, digits, \".\" and \"-\"; no scheme, port or path)")
    endif()
  endforeach()
  list(JOIN ARGN ";" hosts)
  set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}.cpp")
  file(CONFIGURE OUTPUT "${source}" CONTENT "// Made by the build from the server mirrors given to it.\n#include \"update/update_run.h\"\n\nconst char* BuiltInServerMirrors() { return \"${hosts}\"; }\n")
  add_library(${target} STATIC "${source}")
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(${target} PRIVATE updater_framework)
endfunction()
