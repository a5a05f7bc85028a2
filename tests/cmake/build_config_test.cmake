# The build-time settings as the project's configure step writes them: refused when the launcher
# could not use them, and reaching the code as intact literals whatever characters they hold.
# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=... [-DCXX_MSVC=1] -P build_config_test.cmake
if(DEFINED WRITE_TO)
  # One configure step's worth, run in a child so that a refusal ends only the child.
  include(${SOURCE_DIR}/cmake/BuildConfig.cmake)
  talvora_write_build_config(${SOURCE_DIR}/cmake/build_config.h.in ${WRITE_TO})
  return()
endif()

set(failures 0)
set(header ${WORK_DIR}/build_config.h)

function(write_config result)
  file(REMOVE ${header})
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -DWRITE_TO=${header} ${ARGN}
                          -P ${CMAKE_CURRENT_LIST_FILE}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  set(${result} ${rc} PARENT_SCOPE)
  set(error "${err}" PARENT_SCOPE)
endfunction()

foreach(server "ftp://patch.example.invalid" "patch.example.invalid" "http://"
               "http:///pack" "HTTPS://patch.example.invalid" "http://patch.example.invalid/"
               "https://patch.example.invalid:8443/mirror/")
  write_config(rc "-DTALVORA_PATCH_SERVER=${server}")
  if(rc EQUAL 0 OR EXISTS ${header} OR NOT error MATCHES "TALVORA_PATCH_SERVER")
    message(SEND_ERROR "patch server '${server}' was not refused (${rc}): ${error}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
foreach(version 0 -1 1.5 x 65536)
  write_config(rc "-DTALVORA_LAUNCHER_VERSION=${version}")
  if(rc EQUAL 0 OR EXISTS ${header})
    message(SEND_ERROR "launcher version '${version}' was not refused")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
foreach(setting "DOWNLOADS_IN_FLIGHT=0" "DOWNLOADS_IN_FLIGHT=9" "DOWNLOADS_IN_FLIGHT=x"
                "DOWNLOAD_RETRIES=-1" "DOWNLOAD_RETRIES=11" "DOWNLOAD_RETRIES=2.5"
                "QUICK_CHECK=1" "QUICK_CHECK=on" "QUICK_CHECK=ONN" "QUICK_CHECK=")
  write_config(rc "-DTALVORA_${setting}")
  if(rc EQUAL 0 OR EXISTS ${header})
    message(SEND_ERROR "TALVORA_${setting} was not refused")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

# Defaults, and texts holding quotes and backslashes (a\n would become a line break if it were
# pasted unescaped), must compile to exactly these characters.
write_config(rc "-DTALVORA_PATCH_SERVER=https://patch.example.invalid:8443/a\"b\\nc"
                "-DTALVORA_WEBSITE_URL=https://example.invalid/\\\"\"\\")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "good settings were refused: ${error}")
endif()
file(WRITE ${WORK_DIR}/use_config.cpp [=[
#include "build_config.h"
constexpr bool Same(const wchar_t* a, const wchar_t* b) {
    return *a == *b && (*a == 0 || Same(a + 1, b + 1));
}
constexpr wchar_t kServer[] = {'h', 't', 't', 'p', 's', ':', '/', '/', 'p', 'a', 't', 'c', 'h',
                               '.', 'e', 'x', 'a', 'm', 'p', 'l', 'e', '.', 'i', 'n', 'v', 'a',
                               'l', 'i', 'd', ':', '8', '4', '4', '3', '/', 'a', '"', 'b', '\\',
                               'n', 'c', 0};
constexpr wchar_t kWebsite[] = {'h', 't', 't', 'p', 's', ':', '/', '/', 'e', 'x', 'a', 'm', 'p',
                                'l', 'e', '.', 'i', 'n', 'v', 'a', 'l', 'i', 'd', '/', '\\', '"',
                                '"', '\\', 0};
static_assert(Same(TALVORA_PATCH_SERVER, kServer), "patch server");
static_assert(Same(TALVORA_WEBSITE_URL, kWebsite), "website");
static_assert(Same(TALVORA_DISCORD_URL, L"https://example.invalid/talvora/discord"), "discord");
static_assert(TALVORA_LAUNCHER_VERSION == 1, "version");
// One file at a time and no retry unless an operator asks for them.
static_assert(TALVORA_DOWNLOADS_IN_FLIGHT == 1, "downloads in flight");
static_assert(TALVORA_DOWNLOAD_RETRIES == 0, "download retries");
// Every start hashes every file unless an operator asks for the record of verified files.
static_assert(TALVORA_QUICK_CHECK == 0, "quick check");
]=])
if(CXX_MSVC)
  set(compile ${CXX} /nologo /std:c++17 /Zs /I${WORK_DIR} ${WORK_DIR}/use_config.cpp)
else()
  set(compile ${CXX} -std=c++17 -fsyntax-only -I${WORK_DIR} ${WORK_DIR}/use_config.cpp)
endif()
execute_process(COMMAND ${compile} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  file(READ ${header} text)
  message(SEND_ERROR "the generated header does not carry the texts intact:\n${text}\n${out}")
  math(EXPR failures "${failures} + 1")
endif()

# The operator's ON reaches the code.
write_config(rc "-DTALVORA_QUICK_CHECK=ON")
file(READ ${header} text)
if(NOT rc EQUAL 0 OR NOT text MATCHES "#define TALVORA_QUICK_CHECK 1\n")
  message(SEND_ERROR "TALVORA_QUICK_CHECK=ON did not reach the header (${rc}): ${error}")
  math(EXPR failures "${failures} + 1")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} setting(s) handled wrongly")
endif()
