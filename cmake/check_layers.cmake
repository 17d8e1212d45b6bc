# Checks the folder libraries' dependency graph that `cmake --graphviz` draws.
#
#   cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<scratch> [-DGENERATOR=<name>] -P check_layers.cmake
#
# Configures the tree in WORK_DIR with --graphviz, then reads every edge between two folder
# libraries (quellmark_<folder>) and fails when the graph has a cycle or an arrow from a lower
# folder to a higher one. The layers, lowest first, as the README's layout section gives them:
set(layers base platform log registry pipe gpu audio firmware hid input survey app sim platform_posix
    platform_win32)

if(NOT GENERATOR)
  set(GENERATOR "Ninja")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR} -G ${GENERATOR}
          -DQUELLMARK_TESTS=OFF -DQUELLMARK_BENCH=OFF --graphviz=${WORK_DIR}/folders.dot
  RESULT_VARIABLE configured OUTPUT_QUIET)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring ${SOURCE_DIR} for the graph failed")
endif()

file(STRINGS ${WORK_DIR}/folders.dot edges REGEX "// quellmark_[a-z0-9_]+ -> quellmark_[a-z0-9_]+$")
set(faults "")
set(checked 0)
foreach(edge IN LISTS edges)
  string(REGEX MATCH "// quellmark_([a-z0-9_]+) -> quellmark_([a-z0-9_]+)$" _ "${edge}")
  set(from ${CMAKE_MATCH_1})
  set(to ${CMAKE_MATCH_2})
  list(FIND layers ${from} from_layer)
  list(FIND layers ${to} to_layer)
  if(from_layer EQUAL -1 OR to_layer EQUAL -1)
    list(APPEND faults "${from} -> ${to}: a folder library without a layer")
  elseif(NOT to_layer LESS from_layer)
    list(APPEND faults "${from} -> ${to}: runs upward or sideways")
  endif()
  math(EXPR checked "${checked} + 1")
endforeach()

# Every arrow pointing strictly downward in one total order rules out a cycle.
if(checked EQUAL 0)
  message(FATAL_ERROR "the graph holds no arrow between folder libraries")
endif()
if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "folder graph faults:\n  ${text}")
endif()
message(STATUS "folder graph: ${checked} arrows, all downward, no cycle")
