# Build tools (tools/) run on the build machine while the build runs: they
# draw the logo and the icons and render the manual.  A cross build (Windows
# programs on Linux) cannot run what it compiles, so there the tools are taken,
# already built, from a native build folder named by QVX_HOST_TOOLS_DIR
# (scripts/windows/build.sh passes build/tools).
set(QVX_HOST_TOOLS_DIR "" CACHE PATH
  "Cross builds: folder holding native builds of qvx_make_logo, qvx_make_icon and qvx_render_manual")
if(CMAKE_CROSSCOMPILING AND NOT QVX_HOST_TOOLS_DIR)
  message(FATAL_ERROR "A cross build needs -DQVX_HOST_TOOLS_DIR=<native build>/tools (see scripts/windows/build.sh)")
endif()

# qvx_build_tool(NAME SOURCE LIBS...): the tool NAME, compiled from SOURCE
# against LIBS in a native build, imported from QVX_HOST_TOOLS_DIR in a cross
# build.  Either way custom commands name it as NAME.
function(qvx_build_tool name source)
  if(CMAKE_CROSSCOMPILING)
    add_executable(${name} IMPORTED GLOBAL)
    set_target_properties(${name} PROPERTIES IMPORTED_LOCATION ${QVX_HOST_TOOLS_DIR}/${name})
    return()
  endif()
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARGN})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endfunction()
