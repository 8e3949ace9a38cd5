# Windows programs: an icon and version information in every .exe (a
# resource file through windres), qvxtool as a GUI program without a console
# window, qvxctl and qvxsim as console programs.  Included after every
# subdirectory when building for Windows.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(QVX_WINDOWS_OUT ${CMAKE_BINARY_DIR}/windows)
set(QVX_ICO ${QVX_WINDOWS_OUT}/qvxtool.ico)
set(QVX_ICO_PNGS)
foreach(size 16 24 32 48 256)
  set(png ${QVX_WINDOWS_OUT}/icon-${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QVX_WINDOWS_OUT}
    COMMAND qvx_make_icon ${size} ${png}
    DEPENDS qvx_make_icon
    COMMENT "Drawing the ${size} pixel icon")
  list(APPEND QVX_ICO_PNGS ${png})
endforeach()
add_custom_command(OUTPUT ${QVX_ICO}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/packaging/windows/make_ico.py ${QVX_ICO} ${QVX_ICO_PNGS}
  DEPENDS ${QVX_ICO_PNGS} ${CMAKE_SOURCE_DIR}/packaging/windows/make_ico.py
  COMMENT "Packing the program icon")
add_custom_target(qvx_windows_icon DEPENDS ${QVX_ICO})

function(qvx_windows_program target description)
  set(QVX_RC_TARGET ${target})
  set(QVX_RC_DESCRIPTION ${description})
  set(rc ${QVX_WINDOWS_OUT}/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${QVX_ICO})
  add_dependencies(${target} qvx_windows_icon)
endfunction()

qvx_windows_program(qvxtool "QVX-24S service tool")
qvx_windows_program(qvxctl "QVX-24S gateway from the command line")
qvx_windows_program(qvxsim "QVX-24S simulator")
set_target_properties(qvxtool PROPERTIES WIN32_EXECUTABLE TRUE)

# The cross build parses Qt's headers once per library instead of once per
# file (precompiled headers): on a busy build machine that halves its time.
# The tests share one header built with their own flags.
target_precompile_headers(qvxcore PRIVATE <QtCore/QtCore> <vector> <functional> <memory> <optional>)
target_precompile_headers(qvxlink PRIVATE <QtCore/QtCore> <QtNetwork/QtNetwork> <QtSerialPort/QtSerialPort>)
target_precompile_headers(qvxsimcore PRIVATE <QtCore/QtCore> <vector> <functional> <memory> <optional>)
target_precompile_headers(qvxsimlink PRIVATE <QtCore/QtCore> <QtNetwork/QtNetwork> <QtSerialPort/QtSerialPort>)
target_precompile_headers(qvxgui PRIVATE <QtWidgets/QtWidgets> <QtNetwork/QtNetwork> <QtSerialPort/QtSerialPort>)
