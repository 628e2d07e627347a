# Checks that a layer target compiles against exactly the folders it may see.
#
#   cmake -DCXX=<compiler> -DSRC=<src dir> -DFOLDER=<folder, e.g. platform/keys>
#         "-DINCLUDES=<the target's include directories>" -DWORK=<scratch dir>
#         -P check_layer.cmake
#
# For every folder of src/ (each platform family counts as one) the first
# header in it is #included by a probe preprocessed with the target's own
# include directories. A header of a folder at or below FOLDER must be found;
# a header of any other folder must not. The order below is the rule itself,
# written down independently of the build that it checks.

cmake_minimum_required(VERSION 3.20)

set(PLATFORM_FAMILIES platform/os platform/openssl platform/names platform/store
    platform/registry platform/ui platform/keys platform/chain platform/message
    platform/automation)
set(SIBLINGS encoding signeddata certs)

# What FOLDER may include besides itself.
if(FOLDER STREQUAL "common")
  set(allowed)
elseif(FOLDER MATCHES "^platform/")
  list(FIND PLATFORM_FAMILIES ${FOLDER} index)
  if(index LESS 0)
    message(FATAL_ERROR "unknown platform family ${FOLDER}")
  endif()
  set(allowed common)
  if(index GREATER 0)
    math(EXPR last "${index} - 1")
    foreach(i RANGE 0 ${last})
      list(GET PLATFORM_FAMILIES ${i} family)
      list(APPEND allowed ${family})
    endforeach()
  endif()
elseif(FOLDER IN_LIST SIBLINGS OR FOLDER STREQUAL "demo")
  set(allowed common ${PLATFORM_FAMILIES})
elseif(FOLDER STREQUAL "crypto")
  set(allowed common ${PLATFORM_FAMILIES} ${SIBLINGS})
elseif(FOLDER STREQUAL "control")
  set(allowed common ${PLATFORM_FAMILIES} ${SIBLINGS} crypto)
elseif(FOLDER STREQUAL "com")
  set(allowed common ${PLATFORM_FAMILIES} ${SIBLINGS} crypto control)
elseif(FOLDER STREQUAL "host")
  set(allowed common ${PLATFORM_FAMILIES} ${SIBLINGS} crypto control com)
elseif(FOLDER STREQUAL "cli")
  set(allowed common ${PLATFORM_FAMILIES} ${SIBLINGS} crypto control com demo)
else()
  message(FATAL_ERROR "no rule for folder ${FOLDER}")
endif()
list(APPEND allowed ${FOLDER})

# Every folder that holds headers.
file(GLOB top RELATIVE ${SRC} ${SRC}/*)
set(folders)
foreach(f ${top})
  if(f STREQUAL "platform")
    list(APPEND folders ${PLATFORM_FAMILIES})
  elseif(IS_DIRECTORY ${SRC}/${f})
    list(APPEND folders ${f})
  endif()
endforeach()

set(flags)
foreach(dir ${INCLUDES})
  list(APPEND flags "-I${dir}")
endforeach()

file(MAKE_DIRECTORY ${WORK})
set(failures)
set(checked 0)
foreach(f ${folders})
  file(GLOB headers RELATIVE ${SRC} ${SRC}/${f}/*.h)
  if(NOT headers)
    continue()
  endif()
  list(SORT headers)
  list(GET headers 0 header)
  string(MAKE_C_IDENTIFIER ${f} stem)
  set(probe ${WORK}/probe_${stem}.cc)
  file(WRITE ${probe} "#include \"${header}\"\n")
  execute_process(COMMAND ${CXX} -std=c++20 -E ${flags} ${probe}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  math(EXPR checked "${checked} + 1")
  if(f IN_LIST allowed)
    if(NOT rc EQUAL 0)
      list(APPEND failures "${FOLDER} cannot include ${header}, which it may:\n${err}")
    endif()
  elseif(rc EQUAL 0)
    list(APPEND failures "${FOLDER} can include ${header}, which is above it or beside it")
  elseif(NOT err MATCHES "No such file or directory")
    list(APPEND failures "${FOLDER} including ${header} failed for another reason:\n${err}")
  endif()
endforeach()

if(checked LESS 10)
  message(FATAL_ERROR "only ${checked} folders probed: is SRC right? (${SRC})")
endif()
if(failures)
  string(JOIN "\n" text ${failures})
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "${FOLDER}: ${checked} folders probed, the view holds exactly what it may")
