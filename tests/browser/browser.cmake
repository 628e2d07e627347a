# The browser route: the extension packages and quillmark.js built from
# extension/, the echo host the page benchmark compares against, and the
# end-to-end tests in headless Chromium through quillmark-host.
find_package(Python3 COMPONENTS Interpreter)
find_program(QM_NODE NAMES node nodejs)

if(Python3_FOUND)
  file(GLOB QM_EXTENSION_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/extension/*)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/extension/quillmark.js
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/extension/build.py
            --cli $<TARGET_FILE:quillmark-cli> --out ${CMAKE_BINARY_DIR}/extension
    DEPENDS quillmark-cli ${QM_EXTENSION_SOURCES}
    COMMENT "Building the browser extension and quillmark.js"
    VERBATIM)
  add_custom_target(quillmark-extension ALL DEPENDS ${CMAKE_BINARY_DIR}/extension/quillmark.js)
endif()

if(QM_BUILD_TESTS OR QM_BUILD_BENCH)
  add_executable(quillmark-echo-host ${PROJECT_SOURCE_DIR}/tests/browser/echo_host.cc)
  target_compile_options(quillmark-echo-host PRIVATE ${QM_WARNINGS})
  target_include_directories(quillmark-echo-host PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(quillmark-echo-host PRIVATE quillmark)
endif()

if(QM_BUILD_TESTS AND QM_NODE)
  add_test(NAME browser.extension_units
           COMMAND ${QM_NODE} --test ${PROJECT_SOURCE_DIR}/tests/browser/extension_units.mjs)
  if(TARGET quillmark-host AND TARGET quillmark-extension)
    add_test(NAME browser.chromium_page
             COMMAND ${QM_NODE} ${PROJECT_SOURCE_DIR}/tests/browser/page_e2e.mjs ${CMAKE_BINARY_DIR})
    add_test(NAME browser.firefox_page
             COMMAND ${QM_NODE} ${PROJECT_SOURCE_DIR}/tests/browser/page_e2e.mjs ${CMAKE_BINARY_DIR}
                     firefox)
    add_test(NAME browser.chromium_limits
             COMMAND ${QM_NODE} ${PROJECT_SOURCE_DIR}/tests/browser/limits_e2e.mjs
                     ${CMAKE_BINARY_DIR})
    add_test(NAME browser.firefox_limits
             COMMAND ${QM_NODE} ${PROJECT_SOURCE_DIR}/tests/browser/limits_e2e.mjs
                     ${CMAKE_BINARY_DIR} firefox)
    # 77: the browser could not be started on this machine.
    set_tests_properties(browser.chromium_page browser.firefox_page browser.chromium_limits
                         browser.firefox_limits PROPERTIES
                         SKIP_RETURN_CODE 77 TIMEOUT 240 RUN_SERIAL TRUE)
  endif()
endif()
