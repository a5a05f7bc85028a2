# The portable formats and rules that the launcher and talvora-publish share: the manifest and the
# launcher version file (read and written), block indexes and their matching, the path rule,
# collision keys, hex digests, decimal reads, and the signature, public-key and EXPIRES forms of
# signed update files. Standard C++ only, so both builds compile the very same sources.
get_filename_component(TALVORA_FORMATS_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

set(TALVORA_FORMATS_SOURCES
    ${TALVORA_FORMATS_ROOT}/src/net/decimal.cpp
    ${TALVORA_FORMATS_ROOT}/src/net/ecdsa_signature.cpp
    ${TALVORA_FORMATS_ROOT}/src/net/expires_line.cpp
    ${TALVORA_FORMATS_ROOT}/src/net/hex_digest.cpp
    ${TALVORA_FORMATS_ROOT}/src/net/pem_block.cpp
    ${TALVORA_FORMATS_ROOT}/src/net/public_key_pem.cpp
    ${TALVORA_FORMATS_ROOT}/src/net/utf8.cpp
    ${TALVORA_FORMATS_ROOT}/src/patch/block_index.cpp
    ${TALVORA_FORMATS_ROOT}/src/patch/block_match.cpp
    ${TALVORA_FORMATS_ROOT}/src/patch/case_fold.cpp
    ${TALVORA_FORMATS_ROOT}/src/patch/case_fold_table.cpp
    ${TALVORA_FORMATS_ROOT}/src/patch/manifest_format.cpp
    ${TALVORA_FORMATS_ROOT}/src/patch/relative_path.cpp
    ${TALVORA_FORMATS_ROOT}/src/patch/xxh64.cpp
    ${TALVORA_FORMATS_ROOT}/src/selfupdate/launcher_version.cpp)

# Every test of the library alone: natively in the publisher's build, under the sanitizers in the
# fuzz build, and in a native Windows build of the launcher. They include the portable part of the
# tests' support (tests/support/pattern_bytes.h, block_plan.h) from TALVORA_FORMATS_TEST_INCLUDE_DIR.
set(TALVORA_FORMATS_TEST_SOURCES
    ${TALVORA_FORMATS_ROOT}/tests/patch/manifest_format_test.cpp
    ${TALVORA_FORMATS_ROOT}/tests/selfupdate/launcher_version_test.cpp
    ${TALVORA_FORMATS_ROOT}/tests/patch/relative_path_test.cpp
    ${TALVORA_FORMATS_ROOT}/tests/patch/block_index_test.cpp
    ${TALVORA_FORMATS_ROOT}/tests/net/text_fields_test.cpp
    ${TALVORA_FORMATS_ROOT}/tests/net/signature_formats_test.cpp)
set(TALVORA_FORMATS_TEST_INCLUDE_DIR ${TALVORA_FORMATS_ROOT}/tests)

function(talvora_add_formats_library)
  add_library(talvora_formats STATIC ${TALVORA_FORMATS_SOURCES})
  target_include_directories(talvora_formats PUBLIC ${TALVORA_FORMATS_ROOT}/src)
  target_compile_features(talvora_formats PUBLIC cxx_std_17)
endfunction()
