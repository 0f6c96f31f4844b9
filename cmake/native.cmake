# Native build: the engine on the POSIX seam, the host tool and the test suite.
add_library(mavusfx_engine STATIC ${CORE_SOURCES}
  platform/posix/system_posix.cpp
  platform/posix/text_posix.cpp
  platform/posix/host_posix.cpp
  platform/hooked_reports.cpp)
target_include_directories(mavusfx_engine PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(mavusfx_engine PRIVATE ${CORE_FLAGS})
# Names are normalised to NFC with utf8proc (Debian: libutf8proc-dev).
find_package(PkgConfig REQUIRED)
pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
target_link_libraries(mavusfx_engine PUBLIC PkgConfig::UTF8PROC)

file(GLOB TOOL_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/*.cpp
  ${PROJECT_SOURCE_DIR}/tools/pack/*.cpp)
add_library(mavusfx_tool_lib STATIC ${TOOL_SOURCES})
target_link_libraries(mavusfx_tool_lib PUBLIC mavusfx_engine)
target_include_directories(mavusfx_tool_lib SYSTEM PRIVATE ${TOMLPLUSPLUS_INCLUDE_DIR})
add_executable(mavusfx tools/main/tool_main.cpp)
target_compile_definitions(mavusfx PRIVATE MAVUSFX_VERSION="${PROJECT_VERSION}")
target_link_libraries(mavusfx PRIVATE mavusfx_tool_lib)

enable_testing()
find_package(GTest REQUIRED)
file(GLOB TEST_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/tests/*.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/*.cpp)
add_executable(mavusfx_tests ${TEST_SOURCES})
target_link_libraries(mavusfx_tests PRIVATE mavusfx_tool_lib GTest::gtest GTest::gtest_main)
target_compile_definitions(mavusfx_tests PRIVATE
  MAVUSFX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  MAVUSFX_TOOL="$<TARGET_FILE:mavusfx>"
  MAVUSFX_STUB="${MAVUSFX_STUB}")
add_dependencies(mavusfx_tests mavusfx)
include(GoogleTest)
gtest_discover_tests(mavusfx_tests DISCOVERY_TIMEOUT 60)

# The fuzz targets' bodies also serve the regression replay test.
target_sources(mavusfx_tests PRIVATE fuzz/fuzz_targets.cpp)

# libFuzzer targets: configure with clang and -DMAVUSFX_FUZZ=ON (scripts/fuzz.sh does).
option(MAVUSFX_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(MAVUSFX_FUZZ)
  foreach(target member_headers decode_member config_block extraction)
    add_executable(fuzz_${target} fuzz/${target}_fuzzer.cpp fuzz/fuzz_targets.cpp)
    target_link_libraries(fuzz_${target} PRIVATE mavusfx_engine)
    target_compile_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()

# Builds the stored archives of the Wine end-to-end tests (scripts/wine-e2e.sh).
add_executable(stored_archive tests/wine/stored_archive.cpp tests/support/test_support.cpp)
target_link_libraries(stored_archive PRIVATE mavusfx_engine)
target_compile_definitions(stored_archive PRIVATE MAVUSFX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  MAVUSFX_TOOL="$<TARGET_FILE:mavusfx>")
