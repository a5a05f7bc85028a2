# The layer rule of src/ holds for the project, and refuses a wrong include planted in a copy of it
# at configure time: one from a lower folder up to a higher one, for every folder that has one.
# cmake -DSOURCE_DIR=... -DWORK_DIR=... -P layers_test.cmake
function(check_tree root expect_refusal what)
  execute_process(COMMAND ${CMAKE_COMMAND} -DTALVORA_LAYERS_ROOT=${root}
                          -P ${SOURCE_DIR}/cmake/Layers.cmake
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(expect_refusal AND (rc EQUAL 0 OR NOT err MATCHES "includes [a-z]+/: src/[a-z]+ may include"))
    message(SEND_ERROR "${what}: not refused (${rc})")
  elseif(NOT expect_refusal AND NOT rc EQUAL 0)
    message(SEND_ERROR "${what}: refused: ${err}")
  endif()
endfunction()

check_tree(${SOURCE_DIR} FALSE "the project's own tree")

# One folder at a time, each with one include it must not have.
foreach(planted "platform/x.h=net/http_client.h" "net/x.cpp=patch/patch_status.h"
                "patch/x.cpp=app/window_state.h" "patch/x.h=ui/hit_rect.h"
                "ui/x.cpp=patch/patch_status.h" "ui/x.h=app/window_state.h"
                "selfupdate/x.cpp=app/startup.h" "codec/x.cpp=platform/file_hash.h"
                "net/x.h=selfupdate/self_update.h")
  string(REGEX REPLACE "=.*" "" file "${planted}")
  string(REGEX REPLACE "^[^=]*=" "" include "${planted}")
  set(tree ${WORK_DIR}/layers)
  file(REMOVE_RECURSE ${tree})
  file(WRITE ${tree}/src/${file} "#pragma once\n#include \"${include}\"\n")
  check_tree(${tree} TRUE "${file} including ${include}")
  # The same include from a folder above it is fine.
  file(REMOVE_RECURSE ${tree})
  file(WRITE ${tree}/src/app/x.cpp "#include \"${include}\"\n")
  check_tree(${tree} FALSE "app including ${include}")
endforeach()
