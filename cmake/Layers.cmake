# qm_layer(TARGET FOLDER [BELOW FOLDER...]) makes an object library of the
# sources directly in src/FOLDER and of those in src/FOLDER/<backend>/, where
# <backend> is QM_BACKEND: "linux" or "win", the system the build is for.
# It compiles against build/layers/TARGET/, a view of src/ with symbolic
# links to FOLDER and to each folder named after BELOW and nothing else, so
# "#include" of any other folder fails.
# qm_layer_executable(TARGET FOLDER [BELOW ...]) does the same for a program.

function(qm_layer_view target folder)
  set(view ${CMAKE_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${view})
  foreach(f ${folder} ${ARGN})
    get_filename_component(parent ${view}/${f} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${f} ${view}/${f} SYMBOLIC)
  endforeach()
  set(QM_LAYER_VIEW ${view} PARENT_SCOPE)
endfunction()

function(qm_layer target folder)
  cmake_parse_arguments(ARG "" "" "BELOW" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cc
       ${PROJECT_SOURCE_DIR}/src/${folder}/${QM_BACKEND}/*.cc)
  add_library(${target} OBJECT ${sources})
  qm_layer_view(${target} ${folder} ${ARG_BELOW})
  target_include_directories(${target} PRIVATE ${QM_LAYER_VIEW})
  target_compile_options(${target} PRIVATE ${QM_WARNINGS})
  set_property(GLOBAL APPEND PROPERTY QM_LAYER_TARGETS "${target}=${folder}")
endfunction()

function(qm_layer_executable target folder)
  cmake_parse_arguments(ARG "" "" "BELOW" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cc
       ${PROJECT_SOURCE_DIR}/src/${folder}/${QM_BACKEND}/*.cc)
  add_executable(${target} ${sources})
  qm_layer_view(${target} ${folder} ${ARG_BELOW})
  target_include_directories(${target} PRIVATE ${QM_LAYER_VIEW})
  target_compile_options(${target} PRIVATE ${QM_WARNINGS})
  set_property(GLOBAL APPEND PROPERTY QM_LAYER_TARGETS "${target}=${folder}")
endfunction()
