# zandrel_library(NAME <target> FOLDER <folder> [CORE] SOURCES ... [DEPS ...])
#
# One library per source folder. A library's headers are reachable as
# "<folder>/header.h" only by the targets that link it (directly or through a
# public dependency): each folder is exposed through a staging directory that
# holds a single link to it, so an include that points up the dependency chain
# fails to compile instead of quietly creating a cycle.
#
# CORE libraries are the display-free core: they are always optimised (the DSP
# is too slow at -O0 for honest tests) and must not link Qt.
function(zandrel_library)
  cmake_parse_arguments(ZL "CORE" "NAME;FOLDER" "SOURCES;DEPS" ${ARGN})
  # A model sub-folder ("widgets/model") is staged as include/widgets/model
  # with a link widgets/model inside it, so that it too is reached as
  # "widgets/model/x.h" and exposes nothing of its parent folder.
  set(stage ${CMAKE_BINARY_DIR}/include/${ZL_FOLDER})
  get_filename_component(link_parent ${stage}/${ZL_FOLDER} DIRECTORY)
  file(MAKE_DIRECTORY ${stage} ${link_parent})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${ZL_FOLDER} ${stage}/${ZL_FOLDER} SYMBOLIC)
  add_library(${ZL_NAME} STATIC ${ZL_SOURCES})
  target_include_directories(${ZL_NAME} PUBLIC ${stage})
  if(ZL_DEPS)
    target_link_libraries(${ZL_NAME} PUBLIC ${ZL_DEPS})
  endif()
  if(ZL_CORE)
    target_compile_options(${ZL_NAME} PRIVATE $<$<CONFIG:Debug>:-O2>)
  endif()
endfunction()
