# The portable core that the launcher and talvora-publish share: everything under src/portable,
# standard C++ only, so both builds compile the very same sources. The manifest and the launcher
# version file (read and written), block indexes and their matching, the path rule, collision
# keys, hex digests, decimal reads, HTTP header values, the signature, public-key and EXPIRES
# forms of signed update files, compressed copies, the SHA-256 and zlib stream interfaces and the
# handle owner template.
get_filename_component(TALVORA_FORMATS_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

file(GLOB_RECURSE TALVORA_FORMATS_SOURCES CONFIGURE_DEPENDS
     ${TALVORA_FORMATS_ROOT}/src/portable/*.cpp)
file(GLOB_RECURSE TALVORA_FORMATS_FILES CONFIGURE_DEPENDS
     ${TALVORA_FORMATS_ROOT}/src/portable/*.cpp ${TALVORA_FORMATS_ROOT}/src/portable/*.h)

# Tests of the portable core alone; they run natively (and under the sanitizers), without Wine.
file(GLOB_RECURSE TALVORA_FORMATS_TEST_SOURCES CONFIGURE_DEPENDS
     ${TALVORA_FORMATS_ROOT}/tests/portable/*_test.cpp)
# They include the portable part of the tests' support (tests/support/pattern_bytes.h,
# block_plan.h) from TALVORA_FORMATS_TEST_INCLUDE_DIR.
set(TALVORA_FORMATS_TEST_INCLUDE_DIR ${TALVORA_FORMATS_ROOT}/tests)

# A portable file may include the C++ standard library and other portable files, nothing else:
# a platform header there would break the other build, so configuring refuses it.
set(TALVORA_STANDARD_HEADERS
    algorithm any array atomic bitset cassert cctype cerrno cfloat charconv chrono cinttypes
    climits cmath condition_variable cstddef cstdint cstdio cstdlib cstring ctime cwchar cwctype
    deque exception functional initializer_list iomanip ios iosfwd iostream istream iterator
    limits list map memory mutex new numeric optional ostream queue random ratio set sstream
    stdexcept string string_view system_error thread tuple type_traits unordered_map
    unordered_set utility variant vector)
function(talvora_check_portable_includes)
  foreach(file ${TALVORA_FORMATS_FILES})
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${includes})
      if(line MATCHES "<([^>]+)>")
        list(FIND TALVORA_STANDARD_HEADERS "${CMAKE_MATCH_1}" at)
        if(at EQUAL -1)
          message(FATAL_ERROR "${file}: includes <${CMAKE_MATCH_1}>; files under src/portable "
                              "use the C++ standard library and each other only")
        endif()
      elseif(line MATCHES "\"([^\"]+)\"")
        set(included "${CMAKE_MATCH_1}")
        if(NOT included MATCHES "^portable/")
          message(FATAL_ERROR "${file}: includes \"${included}\"; files under src/portable "
                              "use the C++ standard library and each other only")
        endif()
      endif()
    endforeach()
  endforeach()
endfunction()
talvora_check_portable_includes()

# talvora_add_formats_library(SHA256_BACKEND_SOURCES...): the library, with the SHA-256 backend
# of this build (CNG: src/platform/sha256_bcrypt.cpp; OpenSSL: tools/publish/src/sha256_openssl.cpp) in
# a library of its own that the portable one links, so the portable code stays free of either;
# likewise the zlib streams over the zlib library (src/codec, every build) as talvora_zlib.
function(talvora_add_formats_library)
  talvora_add_zlib_library()
  add_library(talvora_sha256 STATIC ${ARGN})
  target_include_directories(talvora_sha256 PRIVATE ${TALVORA_FORMATS_ROOT}/src)
  target_compile_features(talvora_sha256 PRIVATE cxx_std_17)
  if(WIN32)
    target_link_libraries(talvora_sha256 PUBLIC bcrypt)
  else()
    find_package(OpenSSL REQUIRED COMPONENTS Crypto)
    target_link_libraries(talvora_sha256 PUBLIC OpenSSL::Crypto)
  endif()
  add_library(talvora_formats STATIC ${TALVORA_FORMATS_SOURCES})
  target_include_directories(talvora_formats PUBLIC ${TALVORA_FORMATS_ROOT}/src)
  target_compile_features(talvora_formats PUBLIC cxx_std_17)
  target_link_libraries(talvora_formats PUBLIC talvora_sha256 talvora_zlib)
endfunction()

# zlib through CMake's package lookup: Debian's zlib1g-dev natively, libz-mingw-w64-dev from the
# cross build's sysroot, and for MSVC whatever ZLIB_ROOT or a vcpkg toolchain points at. The cross
# build takes the static library so that no zlib DLL has to lie beside the executable.
function(talvora_add_zlib_library)
  if(MINGW)
    set(ZLIB_USE_STATIC_LIBS ON)
  endif()
  find_package(ZLIB REQUIRED)
  if(MINGW AND ZLIB_LIBRARIES MATCHES "\\.dll\\.a$")
    message(FATAL_ERROR "zlib: found only the DLL's import library ${ZLIB_LIBRARIES}; "
                        "the cross build needs CMake 3.24 or later to pick libz.a")
  endif()
  add_library(talvora_zlib STATIC ${TALVORA_FORMATS_ROOT}/src/codec/zlib_inflater.cpp
                                  ${TALVORA_FORMATS_ROOT}/src/codec/zlib_deflater.cpp)
  target_include_directories(talvora_zlib PRIVATE ${TALVORA_FORMATS_ROOT}/src)
  target_compile_features(talvora_zlib PRIVATE cxx_std_17)
  target_link_libraries(talvora_zlib PUBLIC ZLIB::ZLIB)
endfunction()
