# The Windows build, cross-built with mingw-w64 (cmake/mingw-w64-x86_64.cmake).
#
# The layers are the same targets as on Linux, made from the same list; each
# platform family compiles its win/ backend (the real CryptoAPI, registry,
# dialogs and shell) instead of its linux/ one. Everything is linked
# statically against the compiler's runtime and zlib, so quillmark.dll and
# the programs need nothing but the system's own DLLs (a test checks their
# import tables).
set(QM_BACKEND win)
enable_language(RC)  # the dialogs', strings' and type library's resources

add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++)

include(cmake/LayerList.cmake)

# The system DLLs the Windows backend calls.
set(QM_WIN_SYSTEM_LIBS crypt32 advapi32 ole32 oleaut32 uuid user32 gdi32 comdlg32 comctl32
    shell32 shlwapi iphlpapi)

# Every layer's objects in one archive: a test program takes only the objects
# it uses, so the portable tests link before every family has its backend.
add_library(qm_win_all STATIC ${QM_LIBRARY_OBJECTS})
target_link_libraries(qm_win_all PUBLIC ZLIB::ZLIB ${QM_WIN_SYSTEM_LIBS})

# --- The type library (widl) --------------------------------------------------
# src/com/win/quillmark.idl is the output of `quillmark typelib --idl` (a Linux
# test keeps the two equal). widl compiles it into quillmark.tlb, which
# quillmark.rc embeds as TYPELIB 1; IUnknown and IDispatch are referenced in
# the system's stdole2.tlb, which wine ships.
find_file(QM_STDOLE2_TLB stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
                /usr/lib64/wine/x86_64-windows
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QM_STDOLE2_TLB)
  message(FATAL_ERROR "stdole2.tlb (from wine) is needed to compile the type library")
endif()
get_filename_component(QM_STDOLE2_DIR ${QM_STDOLE2_TLB} DIRECTORY)
set(QM_COM_WIN_DIR ${PROJECT_SOURCE_DIR}/src/com/win)
set(QM_TYPELIB_DIR ${CMAKE_BINARY_DIR}/typelib)
set(QM_TYPELIB ${QM_TYPELIB_DIR}/quillmark.tlb)
add_custom_command(
  OUTPUT ${QM_TYPELIB}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QM_TYPELIB_DIR}
  COMMAND ${QM_WIDL} --win64 -t --nostdinc -I ${QM_COM_WIN_DIR}/widl -L ${QM_STDOLE2_DIR}
          -o ${QM_TYPELIB} ${QM_COM_WIN_DIR}/quillmark.idl
  DEPENDS ${QM_COM_WIN_DIR}/quillmark.idl ${QM_COM_WIN_DIR}/widl/oaidl.idl
          ${QM_COM_WIN_DIR}/widl/ocidl.idl
  COMMENT "Compiling the type library quillmark.tlb"
  VERBATIM)
add_custom_target(qm_typelib DEPENDS ${QM_TYPELIB})
set(QM_COM_RC ${QM_COM_WIN_DIR}/quillmark.rc)
set_source_files_properties(${QM_COM_RC} PROPERTIES
  OBJECT_DEPENDS "${QM_TYPELIB};${QM_COM_WIN_DIR}/quillmark.bmp;${QM_COM_WIN_DIR}/quillmark.rgs"
  INCLUDE_DIRECTORIES "${QM_TYPELIB_DIR};${QM_COM_WIN_DIR}")
# --- end of the type library ---------------------------------------------------

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

  # quillmark.def exports only the module's C functions, so the programs take
  # the library's objects from the static archive instead of the DLL.
  add_library(qm_demo_lib STATIC $<TARGET_OBJECTS:qm_demo>)
  target_link_libraries(qm_demo_lib PUBLIC qm_win_all)

  qm_layer_executable(quillmark-cli cli
                      BELOW common platform encoding signeddata certs crypto control com demo)
  set_target_properties(quillmark-cli PROPERTIES OUTPUT_NAME quillmark)
  target_link_libraries(quillmark-cli PRIVATE qm_demo_lib qm_win_all)

  qm_layer_executable(quillmark-host host
                      BELOW common platform encoding signeddata certs crypto control com)
  target_link_libraries(quillmark-host PRIVATE qm_win_all)
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
      signeddata/asn1
      platform/os/last_error platform/ui/gui_protocol
      win/os_win win/registry_win win/ui_win
      win/store_win win/keys_win
      win/message_win win/chain_win win/key_use_win)
  # The automation server's value rules.
  list(APPEND QM_WIN_TESTS platform/automation/automation_values)
  # The portable tests of the layers above the platform: the automation
  # surface and the members that need no store. Linux tests stay Linux
  # tests where they shell out to Linux tools (openssl, gzip), expect POSIX
  # paths in answers, keep the registry in the home folder, or take code
  # page 54936 for granted (wine has none; tests/win covers 936 and 65001).
  list(APPEND QM_WIN_TESTS
       com/dispatch com/origin_rules com/session_answer com/type_library com/variant
       control/base64_members control/control control/dn_check control/messages
       control/method_frame)
  # Their helpers: scratch folders, and the session line checks (the
  # session runner itself is driven by the Linux tests).
  add_library(qm_wintestsupport STATIC ${PROJECT_SOURCE_DIR}/tests/win/support/scratch_dir.cc
              ${PROJECT_SOURCE_DIR}/tests/support/session_lines.cc)
  target_include_directories(qm_wintestsupport PUBLIC ${PROJECT_SOURCE_DIR}/tests
                             ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(qm_wintestsupport PRIVATE QM_CLI_PATH="quillmark.exe")
  target_link_libraries(qm_wintestsupport PUBLIC qm_win_all gtest gmock)
  foreach(entry ${QM_WIN_TESTS})
    get_filename_component(name ${entry} NAME)
    add_executable(wintest_${name} ${PROJECT_SOURCE_DIR}/tests/${entry}_test.cc)
    # GCC 12 at -O2 takes a std::variant holding a string for uninitialised
    # in the tests' expressions (GCC bug 105562).
    target_compile_options(wintest_${name} PRIVATE ${QM_WARNINGS} -Wno-maybe-uninitialized)
    target_include_directories(wintest_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests
                               ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(wintest_${name} PRIVATE qm_wintestsupport qm_win_all gtest gmock
                          gtest_main)
    if(name STREQUAL "ui_win")
      # The dialogs' resources, as quillmark.dll carries them.
      target_sources(wintest_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/ui/win/dialogs.rc)
    endif()
    # The tests of one program share the system's state (a registry key, a
    # store, a key container), so they run one at a time; programs run side
    # by side.
    gtest_discover_tests(wintest_${name} TEST_PREFIX win. DISCOVERY_MODE PRE_TEST
                         DISCOVERY_TIMEOUT 120
                         PROPERTIES TIMEOUT 300 RESOURCE_LOCK wintest_${name})
  endforeach()

  # --- Message interop with the openssl command (message backend) ----------
  # Signatures go both ways between crypt32 under wine and openssl; the
  # script says what it checks.
  find_program(QM_OPENSSL openssl)
  if(QM_WINE AND QM_OPENSSL)
    add_test(NAME win.message_interop.openssl
             COMMAND sh ${PROJECT_SOURCE_DIR}/tests/win/message_interop.sh ${QM_WINE}
                     $<TARGET_FILE:wintest_message_win> ${QM_OPENSSL})
    set_tests_properties(win.message_interop.openssl PROPERTIES TIMEOUT 300)
  endif()
  # --- end of the message interop block ------------------------------------

  # --- The COM server -----------------------------------------------------
  # Its unit tests call the exports and the COM objects directly; the program
  # embeds quillmark.rc, so the type library is its own resource as it is the
  # DLL's. The end-to-end test registers quillmark.dll with regsvr32 and drives
  # it from JScript under cscript (tests/win/cscript/). Both need the whole
  # library, as the DLL does.
  if(QM_WIN_PROGRAMS)
    add_executable(wintest_com_win ${PROJECT_SOURCE_DIR}/tests/win/com_win_test.cc ${QM_COM_RC})
    target_compile_options(wintest_com_win PRIVATE ${QM_WARNINGS})
    target_include_directories(wintest_com_win PRIVATE ${PROJECT_SOURCE_DIR}/tests
                               ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(wintest_com_win PRIVATE qm_win_all gtest gmock gtest_main)
    gtest_discover_tests(wintest_com_win TEST_PREFIX win. DISCOVERY_MODE PRE_TEST
                         DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)

    add_test(NAME win.cscript.com_server
             COMMAND sh ${PROJECT_SOURCE_DIR}/tests/win/cscript/run_com_server.sh
                     ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/tests/win/cscript)
    set_tests_properties(win.cscript.com_server PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(QM_TYPELIB_KIND win64)
    else()
      set(QM_TYPELIB_KIND win32)
    endif()
    add_test(NAME win.regsvr32.type_library
             COMMAND sh ${PROJECT_SOURCE_DIR}/tests/win/cscript/run_typelib_registration.sh
                     ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${QM_TYPELIB_KIND})
    set_tests_properties(win.regsvr32.type_library PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
    add_test(NAME win.cli.register_command
             COMMAND sh ${PROJECT_SOURCE_DIR}/tests/win/cscript/run_register_command.sh
                     ${CMAKE_BINARY_DIR})
    set_tests_properties(win.cli.register_command PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
    # quillmark-host.exe for a web page: no key is used without the user's word.
    if(QM_OPENSSL)
      add_test(NAME win.host.key_use
               COMMAND sh ${PROJECT_SOURCE_DIR}/tests/win/host/run_host_key_use.sh
                       ${CMAKE_BINARY_DIR})
      set_tests_properties(win.host.key_use PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
    endif()
  endif()
  # --- end of the COM server ----------------------------------------------

  # --- What the files need from the system --------------------------------
  # Every .exe and .dll at the top of the build tree imports only DLLs that
  # Windows ships (tests/win/imports/system_dlls.txt). The probe is linked
  # against zlib1.dll's import library on purpose and must be caught.
  find_package(Python3 COMPONENTS Interpreter)
  find_library(QM_ZLIB_IMPORT_LIB NAMES libz.dll.a)
  if(Python3_FOUND AND QM_WIN_PROGRAMS)
    set(QM_IMPORTS_DIR ${PROJECT_SOURCE_DIR}/tests/win/imports)
    add_test(NAME win.imports.system_dlls_only
             COMMAND ${Python3_EXECUTABLE} ${QM_IMPORTS_DIR}/check_imports.py
                     --allowed ${QM_IMPORTS_DIR}/system_dlls.txt --require quillmark.dll
                     --require quillmark.exe --require quillmark-host.exe ${CMAKE_BINARY_DIR})
    if(QM_ZLIB_IMPORT_LIB)
      add_executable(qm_zlib_dll_probe ${QM_IMPORTS_DIR}/zlib_dll_probe.c)
      target_link_libraries(qm_zlib_dll_probe PRIVATE ${QM_ZLIB_IMPORT_LIB})
      set_target_properties(qm_zlib_dll_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                            ${CMAKE_BINARY_DIR}/imports_probe)
      add_test(NAME win.imports.catches_zlib_dll
               COMMAND ${Python3_EXECUTABLE} ${QM_IMPORTS_DIR}/check_imports.py
                       --allowed ${QM_IMPORTS_DIR}/system_dlls.txt
                       $<TARGET_FILE:qm_zlib_dll_probe>)
      set_tests_properties(win.imports.catches_zlib_dll PROPERTIES PASS_REGULAR_EXPRESSION
                           "qm_zlib_dll_probe.exe imports zlib1.dll, which is not a Windows")
    endif()
  endif()
  # --- end of the system DLLs -----------------------------------------------
endif()
