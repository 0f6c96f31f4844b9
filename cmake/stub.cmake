# Cross build for 32-bit Windows: the stub mavusfx.exe, built for size, the host
# tool as mavusfx-tool.exe, and the helpers of the end-to-end tests under Wine.
enable_language(RC)
set(CMAKE_RC_FLAGS "-c 932")
# The same sources give the same bytes: no link time in the PE headers (the linker
# writes one unless SOURCE_DATE_EPOCH is set), and no paths in the images.
add_link_options(-Wl,--no-insert-timestamp)

# Built for size: -Oz, no frame pointer, no loop optimisations (they unroll and
# strength-reduce), a 4-byte stack alignment (what Win32 guarantees), link-time
# optimisation across all units, no unwind tables, data aligned as the ABI asks
# and no further (GCC pads arrays of 32 bytes and more to 32 otherwise).  Arguments
# are pushed rather than stored into a frame laid out beforehand, which needs stack
# probes off: no frame may then reach the next page below the guard page, so every
# frame is held under 4,000 bytes, checked at compile and link time.  Small functions
# are inlined only where GCC would inline any, and the register allocator does not
# weigh register pressure when it hoists: each measured shorter here (48 bytes).
# Inlining that would grow a frame much is left out, and neither code nor loop
# invariants are moved nearer to or out of where they are used, values are not
# split into word-sized parts, a value that lives across a call is not kept in a
# register the call clobbers, and calls in tail position stay calls: measured
# together, 176 bytes.  Without the full redundancy elimination on trees, 20 more.
set(STUB_CODE_FLAGS -Oz -fomit-frame-pointer -fno-tree-loop-optimize -mpreferred-stack-boundary=2
  -mno-accumulate-outgoing-args -mno-stack-arg-probe -Werror=frame-larger-than=4000 -flto -malign-data=abi
  -fno-inline-small-functions -fno-ira-hoist-pressure -fconserve-stack -fno-tree-sink
  -fno-move-loop-invariants -fno-split-wide-types -fno-caller-saves -fno-optimize-sibling-calls
  -fno-tree-fre ${STUB_EXTRA})
# The stub build: no initialised data, and without the decoder's fast paths (each
# costs more of the stub's file than it is worth there; README.md has the figures).
# The simple loop they stand for decodes exactly alike.  The CRC-16 is taken a byte
# at a time: its slices (132 bytes of code) went to walking member folders from
# open handles, which keeps every write inside the destination.
set(STUB_DEFINES -DMAVUSFX_STUB_BUILD -DMAVUSFX_NO_BLOCK_FAST_RUN -DMAVUSFX_NO_LH1_FAST_RUN
  -DMAVUSFX_NO_QUIET_PROGRESS -DMAVUSFX_NO_OUTPUT_BUFFER
  -DMAVUSFX_NO_WRITE_BEHIND -DMAVUSFX_NO_CRC_SLICES)
set(STUB_FLAGS ${CORE_FLAGS} ${STUB_DEFINES} ${STUB_CODE_FLAGS} -ffunction-sections
  -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector -fno-ident
  -include ${PROJECT_SOURCE_DIR}/platform/win32/runtime_imports.h)

add_library(stub_engine STATIC ${CORE_SOURCES}
  platform/win32/system_win32.cpp
  platform/win32/wide_text.cpp
  platform/win32/window_reports.cpp)
target_include_directories(stub_engine PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(stub_engine PRIVATE ${STUB_FLAGS} ${CORE_WARNINGS})

# The stub: its own entry point instead of the runtime's start-up code, the runtime
# functions from msvcrt.dll, and imports only from libraries of the KnownDLLs list
# (comctl32 is loaded at run time).  No symbols, no unwind tables, unused sections
# dropped: the image must stay small, and the configuration block begins right
# where its last section ends.
file(GLOB STUB_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/frontend/win32/*.cpp)
set(STUB_RESOURCES ${PROJECT_SOURCE_DIR}/resources/mavusfx.rc)
set_source_files_properties(${STUB_RESOURCES} PROPERTIES OBJECT_DEPENDS
  "${PROJECT_SOURCE_DIR}/resources/app.ico;${PROJECT_SOURCE_DIR}/resources/mavusfx.manifest;${PROJECT_SOURCE_DIR}/resources/resource_ids.h")
add_executable(mavusfx WIN32 ${STUB_SOURCES} ${STUB_RESOURCES})
target_compile_options(mavusfx PRIVATE ${STUB_FLAGS})
target_link_libraries(mavusfx PRIVATE stub_engine)
target_link_options(mavusfx PRIVATE ${STUB_CODE_FLAGS} -mwindows -s -nostdlib -Wl,-e,_stub_entry
  -Wl,--gc-sections -Wl,--disable-dynamicbase -Wl,--disable-reloc-section -Wl,--nxcompat -Wl,--tsaware
  -Wl,-T,${PROJECT_SOURCE_DIR}/cmake/stub.ld -Wl,-Map,mavusfx.map)
set_target_properties(mavusfx PROPERTIES LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/stub.ld)
target_link_libraries(mavusfx PRIVATE msvcrt kernel32 ntdll user32 shell32 ole32 gdi32 gcc)

# The same stub built to behave as on a system without SetDefaultDllDirectories
# (Vista, 7 without its update), which Wine cannot be made into: the end-to-end
# tests plant a comctl32.dll beside it.
add_executable(mavusfx_without_default_dll_directories WIN32 ${STUB_SOURCES} ${STUB_RESOURCES})
target_compile_definitions(mavusfx_without_default_dll_directories PRIVATE
  MAVUSFX_AS_WITHOUT_DEFAULT_DLL_DIRECTORIES)
get_target_property(STUB_LINK_OPTIONS mavusfx LINK_OPTIONS)
list(FILTER STUB_LINK_OPTIONS EXCLUDE REGEX "-Map")
target_compile_options(mavusfx_without_default_dll_directories PRIVATE ${STUB_FLAGS})
target_link_options(mavusfx_without_default_dll_directories PRIVATE ${STUB_LINK_OPTIONS})
target_link_libraries(mavusfx_without_default_dll_directories PRIVATE stub_engine
  msvcrt kernel32 ntdll user32 shell32 ole32 gdi32 gcc)

# The host tool for Windows: the same engine on the Win32 seam, the reports printed.
file(GLOB TOOL_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/*.cpp
  ${PROJECT_SOURCE_DIR}/tools/pack/*.cpp)
add_executable(mavusfx-tool ${TOOL_SOURCES} tools/main/tool_main.cpp ${CORE_SOURCES}
  platform/win32/system_win32.cpp
  platform/win32/wide_text.cpp
  platform/win32/text_win32.cpp
  platform/win32/host_win32.cpp
  platform/hooked_reports.cpp)
target_include_directories(mavusfx-tool PRIVATE ${PROJECT_SOURCE_DIR})
# toml++ is header-only and portable; the cross compiler sees it through a folder of
# its own, not the host's whole include folder.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/toml-include)
file(CREATE_LINK ${TOMLPLUSPLUS_INCLUDE_DIR}/toml++ ${CMAKE_BINARY_DIR}/toml-include/toml++ SYMBOLIC)
target_include_directories(mavusfx-tool SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/toml-include)
# It writes each window in turn: the helper thread that writes behind the decoder
# is on the POSIX side only.
target_compile_definitions(mavusfx-tool PRIVATE MAVUSFX_VERSION="${PROJECT_VERSION}"
  MAVUSFX_NO_WRITE_BEHIND)
target_compile_options(mavusfx-tool PRIVATE ${CORE_FLAGS} -O2)
target_link_options(mavusfx-tool PRIVATE -static-libgcc -static-libstdc++ -s)
# NormalizeString (names in NFC) and NtCreateFile (names looked up in open folders).
target_link_libraries(mavusfx-tool PRIVATE normaliz ntdll)
# It carries the stub built beside it, as the native tool does.
set(STUB_DATA ${CMAKE_BINARY_DIR}/embedded_stub_data.cpp)
add_custom_command(OUTPUT ${STUB_DATA}
  COMMAND ${CMAKE_COMMAND} -DSTUB=$<TARGET_FILE:mavusfx> -DOUT=${STUB_DATA}
          -P ${PROJECT_SOURCE_DIR}/cmake/embed_stub.cmake
  DEPENDS mavusfx ${PROJECT_SOURCE_DIR}/cmake/embed_stub.cmake
  VERBATIM)
target_sources(mavusfx-tool PRIVATE ${STUB_DATA})
target_compile_definitions(mavusfx-tool PRIVATE MAVUSFX_EMBEDDED_STUB)

# Helpers of the Wine end-to-end tests: the driver that works the stub's windows as a
# person would, and a tiny program the stub launches, which leaves a marker file.
add_executable(sfx_driver tests/wine/sfx_driver.cpp)
target_link_libraries(sfx_driver PRIVATE ole32 uuid shell32 gdi32)
target_link_options(sfx_driver PRIVATE -static-libgcc -static-libstdc++ -s)
add_executable(launch_marker WIN32 tests/wine/launch_marker.cpp)
target_link_options(launch_marker PRIVATE -static-libgcc -s)
# A DLL the tests plant beside an installer as comctl32.dll: it marks its loading.
add_library(planted_dll SHARED tests/wine/planted_dll.cpp)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted)
target_link_options(planted_dll PRIVATE -static-libgcc -s)
