# Checks that every file under SOURCE_DIR/src includes only headers of its
# own folder's layer and those below it, and only the libraries that its
# layer links:
#
#   common      the shared basics
#   connection  common
#   track       common
#   view        common, connection, track
#   qtcore      common                              + Qt Core
#   render      common, connection, track, view     + Qt Gui, OpenGL, GLU
#   app         every folder                        + Qt Widgets
#
# The four core folders include neither Qt nor GL, qtcore no Qt Gui,
# Widgets or GL. A folder that is not listed is an error too, so a new
# folder is given its place here.
#
# The tools under SOURCE_DIR/tools (when there is one) are spectators,
# peers and generators, never desktop programs: they may reach every folder
# of src/ but app/ and render/, and include neither Qt Widgets nor GL.
#
#   cmake -DSOURCE_DIR=<project> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.20)

set(allowed_common common)
set(allowed_connection common connection)
set(allowed_track common track)
set(allowed_view common connection track view)
set(allowed_qtcore common qtcore)
set(allowed_render common connection track view render)
set(allowed_app common connection track view qtcore render app)
set(core_folders common connection track view)
set(widget_headers QWidget QDialog QApplication QLabel QLineEdit QPushButton QCheckBox
    QTableWidget QHeaderView QMessageBox QMainWindow QtWidgets)

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp")
set(faults 0)
foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" folder "${file}")
  if(NOT DEFINED allowed_${folder})
    message(SEND_ERROR "src/${file}: folder '${folder}' has no layer")
    math(EXPR faults "${faults} + 1")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/src/${file}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^/\"]+)/[^\"]*\"")
      set(target "${CMAKE_MATCH_1}")
      if(NOT target IN_LIST allowed_${folder})
        message(SEND_ERROR "src/${file}: a ${folder} file includes a header of ${target}: ${line}")
        math(EXPR faults "${faults} + 1")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>/]+)[/>]")
      set(header "${CMAKE_MATCH_1}")
      if(folder IN_LIST core_folders AND (header MATCHES "^Q" OR header STREQUAL "GL"))
        message(SEND_ERROR "src/${file}: the core includes Qt or GL: ${line}")
        math(EXPR faults "${faults} + 1")
      elseif(folder STREQUAL "qtcore" AND (header IN_LIST widget_headers OR header MATCHES "^(GL|QtGui|QtWidgets|QOpenGL)"))
        message(SEND_ERROR "src/${file}: qtcore includes more than Qt Core: ${line}")
        math(EXPR faults "${faults} + 1")
      elseif(folder STREQUAL "render" AND header IN_LIST widget_headers)
        message(SEND_ERROR "src/${file}: the render layer includes Qt Widgets: ${line}")
        math(EXPR faults "${faults} + 1")
      endif()
    endif()
  endforeach()
endforeach()

list(LENGTH files count)
file(GLOB_RECURSE tool_files RELATIVE "${SOURCE_DIR}/tools" "${SOURCE_DIR}/tools/*.h" "${SOURCE_DIR}/tools/*.cpp")
foreach(file IN LISTS tool_files)
  string(REGEX MATCH "^[^/]+" tool "${file}")
  file(STRINGS "${SOURCE_DIR}/tools/${file}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "#[ \t]*include[ \t]*\"(app|render)/[^\"]*\"")
      message(SEND_ERROR "tools/${file}: a tool includes the program's ${CMAKE_MATCH_1} layer: ${line}")
      math(EXPR faults "${faults} + 1")
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>/]+)[/>]")
      set(header "${CMAKE_MATCH_1}")
      if(header IN_LIST widget_headers OR header MATCHES "^(GL|QOpenGL.*|QtWidgets)$")
        message(SEND_ERROR "tools/${file}: a tool includes a desktop layer's header: ${line}")
        math(EXPR faults "${faults} + 1")
      endif()
    endif()
  endforeach()
endforeach()
list(LENGTH tool_files tool_count)
math(EXPR count "${count} + ${tool_count}")
if(faults GREATER 0)
  message(FATAL_ERROR "${faults} include(s) against the layers in ${count} files")
endif()
message(STATUS "${count} files keep to their layers")
