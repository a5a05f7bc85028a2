# What an operator sets when building (there is no run-time configuration), checked and written
# into build_config.h as C++ literals.

set(TALVORA_PATCH_SERVER "http://127.0.0.1:47810" CACHE STRING
    "Patch server base address: http:// or https://, host, optional port, no trailing slash")
set(TALVORA_LAUNCHER_VERSION 1 CACHE STRING "Version number built into this launcher")
set(TALVORA_WEBSITE_URL "https://example.invalid/talvora/website" CACHE STRING
    "Target of the website button")
set(TALVORA_DISCORD_URL "https://example.invalid/talvora/discord" CACHE STRING
    "Target of the Discord button")
set(TALVORA_FACEBOOK_URL "https://example.invalid/talvora/facebook" CACHE STRING
    "Target of the Facebook button")
# Operator options for players on real lines; the defaults keep one file at a time and no retry.
set(TALVORA_DOWNLOADS_IN_FLIGHT 1 CACHE STRING
    "Pending files fetched at once (1 to 8); they are still installed one by one in manifest order")
set(TALVORA_DOWNLOAD_RETRIES 0 CACHE STRING
    "Tries again after a transfer failed in a way that can pass (0 to 10, counted without progress); resumes with Range and keeps .part files across runs")
# Off: every start hashes every byte of the installation, and the full check fetches every file.
set(TALVORA_QUICK_CHECK OFF CACHE STRING
    "ON: keep a record of verified files, so a start hashes only changed files and the full check fetches only what differs")

# The text as the inside of a C++ string literal: backslashes, quotes and line breaks escaped.
function(talvora_escape_literal text out)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\r" "\\r" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Refuses settings the launcher cannot work with, then writes the header to `output`.
function(talvora_write_build_config template output)
  if(NOT TALVORA_PATCH_SERVER MATCHES "^https?://[^/]")
    message(FATAL_ERROR
            "TALVORA_PATCH_SERVER must start with http:// or https:// and a host: "
            "'${TALVORA_PATCH_SERVER}'")
  endif()
  if(TALVORA_PATCH_SERVER MATCHES "/$")
    message(FATAL_ERROR "TALVORA_PATCH_SERVER must not end with a slash: '${TALVORA_PATCH_SERVER}'")
  endif()
  # The version resource holds it in 16 bits.
  if(NOT TALVORA_LAUNCHER_VERSION MATCHES "^[0-9]+$" OR TALVORA_LAUNCHER_VERSION LESS 1 OR
     TALVORA_LAUNCHER_VERSION GREATER 65535)
    message(FATAL_ERROR "TALVORA_LAUNCHER_VERSION must be a whole number from 1 to 65535: "
                        "'${TALVORA_LAUNCHER_VERSION}'")
  endif()
  if(NOT TALVORA_DOWNLOADS_IN_FLIGHT MATCHES "^[1-8]$")
    message(FATAL_ERROR "TALVORA_DOWNLOADS_IN_FLIGHT must be a whole number from 1 to 8: "
                        "'${TALVORA_DOWNLOADS_IN_FLIGHT}'")
  endif()
  if(NOT TALVORA_DOWNLOAD_RETRIES MATCHES "^([0-9]|10)$")
    message(FATAL_ERROR "TALVORA_DOWNLOAD_RETRIES must be a whole number from 0 to 10: "
                        "'${TALVORA_DOWNLOAD_RETRIES}'")
  endif()
  if(NOT TALVORA_QUICK_CHECK MATCHES "^(ON|OFF)$")
    message(FATAL_ERROR "TALVORA_QUICK_CHECK must be ON or OFF: '${TALVORA_QUICK_CHECK}'")
  endif()
  if(TALVORA_QUICK_CHECK STREQUAL "ON")
    set(TALVORA_QUICK_CHECK_VALUE 1)
  else()
    set(TALVORA_QUICK_CHECK_VALUE 0)
  endif()
  foreach(name PATCH_SERVER WEBSITE_URL DISCORD_URL FACEBOOK_URL)
    talvora_escape_literal("${TALVORA_${name}}" TALVORA_${name}_LITERAL)
  endforeach()
  configure_file(${template} ${output} @ONLY)
endfunction()
