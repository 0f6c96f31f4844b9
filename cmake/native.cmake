# Native build: the engine on the POSIX seam, the host tool, its installation and
# package, and the test suite.

# Hardening of what is shipped, as Debian builds its own packages: a
# position-independent executable, fortified library calls (which need the
# optimiser), a stack protector, and the relocations read-only and bound at start.
# Sanitizer and fuzzing builds have their own instrumentation and go without.
set(HARDENING OFF)
if(NOT MAVUSFX_SANITIZE AND NOT MAVUSFX_THREAD_SANITIZE AND NOT MAVUSFX_FUZZ)
  set(HARDENING ON)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
endif()
function(harden target)
  if(HARDENING)
    target_compile_options(${target} PRIVATE -fstack-protector-strong
      $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE> $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    target_link_options(${target} PRIVATE -Wl,-z,relro -Wl,-z,now)
  endif()
endfunction()

add_library(mavusfx_engine STATIC ${CORE_SOURCES}
  platform/posix/system_posix.cpp
  platform/posix/text_posix.cpp
  platform/posix/host_posix.cpp
  platform/posix/helper_thread_posix.cpp
  platform/posix/live_files_posix.cpp
  platform/hooked_reports.cpp
  decode/write_behind.cpp)
target_include_directories(mavusfx_engine PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(mavusfx_engine PRIVATE ${CORE_FLAGS} ${CORE_WARNINGS})
# Names are normalised to NFC with utf8proc (Debian: libutf8proc-dev).
find_package(PkgConfig REQUIRED)
pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
target_link_libraries(mavusfx_engine PUBLIC PkgConfig::UTF8PROC)
find_package(Threads REQUIRED)
target_link_libraries(mavusfx_engine PUBLIC Threads::Threads)

file(GLOB TOOL_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/*.cpp
  ${PROJECT_SOURCE_DIR}/tools/pack/*.cpp)
add_library(mavusfx_tool_lib STATIC ${TOOL_SOURCES})
target_link_libraries(mavusfx_tool_lib PUBLIC mavusfx_engine)
target_include_directories(mavusfx_tool_lib SYSTEM PRIVATE ${TOMLPLUSPLUS_INCLUDE_DIR})
add_executable(mavusfx tools/main/tool_main.cpp)
target_compile_definitions(mavusfx PRIVATE MAVUSFX_VERSION="${PROJECT_VERSION}")
target_link_libraries(mavusfx PRIVATE mavusfx_tool_lib)
foreach(target mavusfx_engine mavusfx_tool_lib mavusfx)
  harden(${target})
endforeach()
include(cmake/embedded_stub.cmake)

# cmake --install: the tool, the stub it carries (for publishers who keep the stub
# beside their own scripts), the manual page and the bash completion.
include(GNUInstallDirs)
install(TARGETS mavusfx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT STUB_FILE STREQUAL "")
  install(FILES ${STUB_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/mavusfx)
endif()
# The manual page and the changelog compressed as Debian wants them, without a name
# or time in the gzip header, so that they are the same bytes every time.
find_program(GZIP_PROGRAM gzip REQUIRED)
foreach(document mavusfx.1 changelog)
  if(document STREQUAL mavusfx.1)
    set(source ${PROJECT_SOURCE_DIR}/docs/mavusfx.1)
  else()
    set(source ${PROJECT_SOURCE_DIR}/docs/debian/changelog)
  endif()
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${document}.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${source} > ${CMAKE_BINARY_DIR}/${document}.gz
    DEPENDS ${source} VERBATIM)
endforeach()
add_custom_target(compressed_documents ALL
  DEPENDS ${CMAKE_BINARY_DIR}/mavusfx.1.gz ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/mavusfx.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz docs/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES tools/mavusfx-completion.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME mavusfx)
include(cmake/package.cmake)

# The test suite needs GoogleTest; the tool alone builds without it.
if(MAVUSFX_TESTS)
  include(cmake/tests.cmake)
endif()

# libFuzzer targets: configure with clang and -DMAVUSFX_FUZZ=ON (scripts/fuzz.sh does).
option(MAVUSFX_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(MAVUSFX_FUZZ)
  # The decoders' compares go untraced: traced, their per-bit loops made every input
  # three times slower, and the coverage of their edges still guides the fuzzer.
  set(UNTRACED_SOURCES ${CORE_SOURCES})
  list(FILTER UNTRACED_SOURCES INCLUDE REGEX "^decode/")
  set_source_files_properties(${UNTRACED_SOURCES} PROPERTIES
    COMPILE_OPTIONS -fno-sanitize-coverage=trace-cmp)
  foreach(target member_headers decode_member config_block extraction)
    add_executable(fuzz_${target} fuzz/${target}_fuzzer.cpp fuzz/fuzz_targets.cpp)
    target_link_libraries(fuzz_${target} PRIVATE mavusfx_engine)
    target_compile_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()
