# The stub the host tool carries, so that `mavusfx make` needs no --stub: the one
# named by MAVUSFX_STUB (scripts/build.sh passes build/i686/mavusfx.exe), or else
# one built here by a nested cross build when the MinGW-w64 compiler is installed.
# Without either the tool carries no stub and `make` asks for --stub.
# Sets STUB_FILE (empty: no stub) and adds the bytes to mavusfx_tool_lib.
option(MAVUSFX_BUILD_STUB "Build the i686 stub for the tool to carry when the cross compiler is installed" ON)
set(STUB_FILE "${MAVUSFX_STUB}")
if(STUB_FILE STREQUAL "" AND MAVUSFX_BUILD_STUB)
  find_program(MINGW_I686_CXX i686-w64-mingw32-g++)
endif()
if(STUB_FILE STREQUAL "")
  if(MAVUSFX_BUILD_STUB AND MINGW_I686_CXX)
    include(ExternalProject)
    set(STUB_FILE ${CMAKE_BINARY_DIR}/i686-stub/mavusfx.exe)
    # Only the stub itself is built there; the nested build is incremental, so an
    # unchanged stub costs one quick check per build.  Under make it shares the
    # outer build's job slots.
    if(CMAKE_GENERATOR MATCHES "Makefiles")
      set(STUB_BUILD_COMMAND $(MAKE) mavusfx)
    else()
      set(STUB_BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target mavusfx)
    endif()
    ExternalProject_Add(i686_stub
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${CMAKE_BINARY_DIR}/i686-stub
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-i686.cmake
                 -DMAVUSFX_WERROR=${MAVUSFX_WERROR}
      BUILD_COMMAND ${STUB_BUILD_COMMAND}
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      BUILD_BYPRODUCTS ${STUB_FILE})
    add_dependencies(mavusfx_tool_lib i686_stub)
    message(STATUS "The stub is built with ${MINGW_I686_CXX} and carried by the tool")
  else()
    message(STATUS "No i686 stub built: the tool carries none (make needs --stub)")
  endif()
endif()

if(NOT STUB_FILE STREQUAL "")
  set(STUB_DATA ${CMAKE_BINARY_DIR}/embedded_stub_data.cpp)
  add_custom_command(OUTPUT ${STUB_DATA}
    COMMAND ${CMAKE_COMMAND} -DSTUB=${STUB_FILE} -DOUT=${STUB_DATA}
            -P ${PROJECT_SOURCE_DIR}/cmake/embed_stub.cmake
    DEPENDS ${STUB_FILE} ${PROJECT_SOURCE_DIR}/cmake/embed_stub.cmake
    COMMENT "Embedding the stub ${STUB_FILE}"
    VERBATIM)
  target_sources(mavusfx_tool_lib PRIVATE ${STUB_DATA})
  target_compile_definitions(mavusfx_tool_lib PRIVATE MAVUSFX_EMBEDDED_STUB)
endif()
