# Cross build for 32-bit Windows: the stub mavusfx.exe, built for size, and the host
# tool as mavusfx-tool.exe.
set(STUB_FLAGS ${CORE_FLAGS} -Os -ffunction-sections -fdata-sections)

add_library(stub_engine STATIC ${CORE_SOURCES}
  platform/win32/system_win32.cpp
  platform/win32/window_reports.cpp)
target_include_directories(stub_engine PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(stub_engine PRIVATE ${STUB_FLAGS})

file(GLOB STUB_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/frontend/win32/*.cpp)
add_executable(mavusfx WIN32 ${STUB_SOURCES})
target_compile_options(mavusfx PRIVATE ${STUB_FLAGS})
target_link_libraries(mavusfx PRIVATE stub_engine shell32 ole32 comctl32)
target_link_options(mavusfx PRIVATE -mwindows -s -static-libgcc -Wl,--gc-sections)
