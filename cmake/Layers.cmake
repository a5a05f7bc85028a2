# The layers of src/: every folder names the folders its files may include, and configuring
# refuses an include that goes against that. A folder includes only itself and folders below it:
#
#   app          start-up, the window and its actions: everything below
#   selfupdate   the replacement of the running launcher: the file road of patch/
#   ui           painting, from what the window gives it (ui/frame_input.h)
#   patch        the update run and its record, the install step
#   net          HTTP, signatures of the update files
#   platform     Win32 helpers every layer may use: handles, text, file hashing, own location
#   codec        the zlib streams over the zlib library
#   portable     standard C++ shared with the publisher (its own rule: cmake/TalvoraFormats.cmake)
set(TALVORA_LAYERS
    "app=portable codec platform net patch selfupdate ui app"
    "selfupdate=portable codec platform net patch selfupdate"
    "ui=portable platform ui"
    "patch=portable codec platform net patch"
    "net=portable platform net"
    "platform=portable platform"
    "codec=portable codec"
    "portable=portable")

# Refuses, naming the file and the line, every include under `root`/src that a folder's rule does
# not allow. Includes of names that are no folder of src/ (system headers, generated ones) pass.
function(talvora_check_layers root)
  set(folders "")
  foreach(rule ${TALVORA_LAYERS})
    string(REGEX REPLACE "=.*" "" folder "${rule}")
    list(APPEND folders ${folder})
  endforeach()
  foreach(rule ${TALVORA_LAYERS})
    string(REGEX REPLACE "=.*" "" folder "${rule}")
    string(REGEX REPLACE "^[^=]*=" "" allowed "${rule}")
    separate_arguments(allowed)
    file(GLOB_RECURSE files ${root}/src/${folder}/*.h ${root}/src/${folder}/*.cpp)
    foreach(file ${files})
      file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
      foreach(line ${includes})
        string(REGEX MATCH "\"([^\"/]+)/" ignored "${line}")
        set(target "${CMAKE_MATCH_1}")
        list(FIND folders "${target}" known)
        list(FIND allowed "${target}" permitted)
        if(NOT known EQUAL -1 AND permitted EQUAL -1)
          file(RELATIVE_PATH shown ${root} ${file})
          string(REPLACE ";" ", " shownAllowed "${allowed}")
          message(FATAL_ERROR "${shown} includes ${target}/: src/${folder} may include "
                              "${shownAllowed} (cmake/Layers.cmake)")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()

# cmake -DTALVORA_LAYERS_ROOT=DIR -P Layers.cmake checks the tree at DIR alone.
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED TALVORA_LAYERS_ROOT)
  talvora_check_layers(${TALVORA_LAYERS_ROOT})
endif()
