# The Windows build, cross-built with mingw-w64 (cmake/mingw-w64-x86_64.cmake).
#
# The layers are the same targets as on Linux, made from the same list; each
# platform family compiles its win/ backend (the real CryptoAPI, registry,
# dialogs and shell) instead of its linux/ one. Everything is linked
# statically against the compiler's runtime, so quillmark.dll and the
# programs need nothing but the system's own DLLs.
set(QM_BACKEND win)
enable_language(RC)  # the dialogs', strings' and type library's resources

add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++)

include(cmake/LayerList.cmake)

# The system DLLs the Windows backend calls.
set(QM_WIN_SYSTEM_LIBS crypt32 advapi32 ole32 oleaut32 uuid user32 gdi32 comdlg32 comctl32
    shell32 shlwapi iphlpapi)

target_link_libraries(qm_platform_os PUBLIC qm_common)
target_link_libraries(qm_platform_openssl PUBLIC qm_platform_os)
target_link_libraries(qm_platform_names PUBLIC qm_platform_openssl)
target_link_libraries(qm_platform_store PUBLIC qm_platform_names)
target_link_libraries(qm_platform_registry PUBLIC qm_platform_store)
target_link_libraries(qm_platform_ui PUBLIC qm_platform_registry)
target_link_libraries(qm_platform_keys PUBLIC qm_platform_ui)
target_link_libraries(qm_platform_chain PUBLIC qm_platform_keys)
target_link_libraries(qm_platform_message PUBLIC qm_platform_chain)
target_link_libraries(qm_encoding PUBLIC qm_platform_message ZLIB::ZLIB)
target_link_libraries(qm_signeddata PUBLIC qm_platform_message)
target_link_libraries(qm_certs PUBLIC qm_platform_message)
target_link_libraries(qm_crypto PUBLIC qm_certs qm_signeddata qm_encoding)
target_link_libraries(qm_control PUBLIC qm_crypto)
target_link_libraries(qm_com PUBLIC qm_control)

set(QM_LIBRARY_LAYERS qm_common qm_platform_os qm_platform_openssl qm_platform_names
    qm_platform_store qm_platform_registry qm_platform_ui qm_platform_keys qm_platform_chain
    qm_platform_message qm_encoding qm_signeddata qm_certs qm_crypto qm_control qm_com)
set(QM_LIBRARY_OBJECTS)
foreach(layer ${QM_LIBRARY_LAYERS})
  list(APPEND QM_LIBRARY_OBJECTS $<TARGET_OBJECTS:${layer}>)
endforeach()

# Every layer's objects in one archive: a test program takes only the objects
# it uses, so the portable tests link before every family has its backend.
add_library(qm_win_all STATIC ${QM_LIBRARY_OBJECTS})
target_link_libraries(qm_win_all PUBLIC ZLIB::ZLIB ${QM_WIN_SYSTEM_LIBS})

# quillmark.dll: the in-process COM server. Its resources (type library,
# strings, dialogs) and its export list are the .rc and .def files of the
# win/ folders, each beside the code that uses them.
option(QM_WIN_PROGRAMS "Build quillmark.dll, quillmark.exe and quillmark-host.exe" ON)
if(QM_WIN_PROGRAMS)
  file(GLOB_RECURSE QM_WIN_RESOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*/win/*.rc
       ${PROJECT_SOURCE_DIR}/src/*/win/*.def ${PROJECT_SOURCE_DIR}/src/platform/*/win/*.rc)
  add_library(quillmark SHARED ${QM_LIBRARY_OBJECTS} ${QM_WIN_RESOURCES})
  set_target_properties(quillmark PROPERTIES PREFIX "" OUTPUT_NAME quillmark)
  target_link_libraries(quillmark PUBLIC ZLIB::ZLIB ${QM_WIN_SYSTEM_LIBS})

  add_library(qm_demo_lib STATIC $<TARGET_OBJECTS:qm_demo>)
  target_link_libraries(qm_demo_lib PUBLIC quillmark)

  qm_layer_executable(quillmark-cli cli
                      BELOW common platform encoding signeddata certs crypto control com demo)
  set_target_properties(quillmark-cli PROPERTIES OUTPUT_NAME quillmark)
  target_link_libraries(quillmark-cli PRIVATE quillmark qm_demo_lib)

  qm_layer_executable(quillmark-host host
                      BELOW common platform encoding signeddata certs crypto control com)
  target_link_libraries(quillmark-host PRIVATE quillmark)
endif()

# --- Tests under wine -------------------------------------------------------
# GoogleTest is built from Debian's sources (libgtest-dev ships them). Every
# test of the programs below is its own CTest test, run through wine; a test
# that needs a call wine does not have calls GTEST_SKIP() with the reason and
# CTest reports it as skipped, never as passed.
if(QM_BUILD_TESTS AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  enable_testing()
  include(GoogleTest)

  # The tests that need no Linux-only service. Each entry is a path under
  # tests/ without the _test.cc suffix.
  set(QM_WIN_TESTS
      common/json common/no_destructor common/text_helpers common/unicode
      encoding/base64 encoding/compress_frame encoding/crc32 encoding/formatted_plaintext
      signeddata/asn1 signeddata/signed_data
      platform/os/last_error platform/ui/gui_protocol
      win/os_win win/registry_win win/ui_win)
  foreach(entry ${QM_WIN_TESTS})
    get_filename_component(name ${entry} NAME)
    add_executable(wintest_${name} ${PROJECT_SOURCE_DIR}/tests/${entry}_test.cc)
    target_compile_options(wintest_${name} PRIVATE ${QM_WARNINGS})
    target_include_directories(wintest_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests
                               ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(wintest_${name} PRIVATE qm_win_all gtest gmock gtest_main)
    if(name STREQUAL "ui_win")
      # The dialogs' resources, as quillmark.dll carries them.
      target_sources(wintest_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/ui/win/dialogs.rc)
    endif()
    gtest_discover_tests(wintest_${name} TEST_PREFIX win. DISCOVERY_MODE PRE_TEST
                         DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
  endforeach()
endif()
