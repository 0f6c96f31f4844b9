# The native test suite (GoogleTest and the scripts in tests/packaging).
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
  MAVUSFX_STUB="${STUB_FILE}")
add_dependencies(mavusfx_tests mavusfx)
include(GoogleTest)
gtest_discover_tests(mavusfx_tests DISCOVERY_TIMEOUT 60)

# The fuzz targets' bodies also serve the regression replay test.
target_sources(mavusfx_tests PRIVATE fuzz/fuzz_targets.cpp)

# Builds the stored archives of the Wine end-to-end tests (scripts/wine-e2e.sh).
add_executable(stored_archive tests/wine/stored_archive.cpp tests/support/test_support.cpp)
target_link_libraries(stored_archive PRIVATE mavusfx_engine)
target_compile_definitions(stored_archive PRIVATE MAVUSFX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  MAVUSFX_TOOL="$<TARGET_FILE:mavusfx>")

# What a publisher gets, checked by scripts: the install tree and the Debian package,
# the stub built twice to the same bytes, and an installer signed after make.
set(PACKAGING_TESTS ${PROJECT_SOURCE_DIR}/tests/packaging)
add_test(NAME Packaging.InstallTreeAndDebianPackage
  COMMAND bash ${PACKAGING_TESTS}/install_and_package.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
add_test(NAME Packaging.StubBuildIsReproducible
  COMMAND bash ${PACKAGING_TESTS}/reproducible_build.sh ${PROJECT_SOURCE_DIR} $<TARGET_FILE:mavusfx>)
add_test(NAME Packaging.SignedInstaller
  COMMAND bash ${PACKAGING_TESTS}/signed_installer.sh $<TARGET_FILE:mavusfx> "${STUB_FILE}")
# 77: what the check needs (the cross compiler, osslsigncode) is not installed.
set_tests_properties(Packaging.InstallTreeAndDebianPackage Packaging.StubBuildIsReproducible
  Packaging.SignedInstaller PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1200)
