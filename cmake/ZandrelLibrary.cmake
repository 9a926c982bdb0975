# zandrel_library(NAME <target> FOLDER <folder> [CORE] SOURCES ... [DEPS ...])
#
# <folder> is a folder of src/ ("view") or the display-free sub-folder of one
# ("view/model", included as "view/model/x.h").
#
# One library per source folder. A library's headers are reachable as
# "<folder>/header.h" only by the targets that link it (directly or through a
# public dependency): each folder is exposed through a staging directory that
# holds a single link to it, so an include that points up the dependency chain
# fails to compile instead of quietly creating a cycle.
#
# CORE libraries are the display-free core: they are always optimised (the DSP
# is too slow at -O0 for honest tests) and must not link Qt, which
# zandrel_check_core_libraries() enforces at configure time.
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
    set_property(GLOBAL APPEND PROPERTY ZANDREL_CORE_LIBRARIES ${ZL_NAME})
  endif()
endfunction()

# zandrel_check_core_libraries(): fails the configuration when a CORE library
# links Qt, directly or through any library it links. Called once all
# libraries are declared.
function(_zandrel_collect_links target out)
  set(seen ${${out}})
  get_target_property(direct ${target} LINK_LIBRARIES)
  get_target_property(iface ${target} INTERFACE_LINK_LIBRARIES)
  foreach(item IN LISTS direct iface)
    if(NOT item OR item MATCHES "-NOTFOUND$" OR item IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${item})
    if(TARGET ${item})
      _zandrel_collect_links(${item} seen)
    endif()
  endforeach()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(zandrel_check_core_libraries)
  get_property(core GLOBAL PROPERTY ZANDREL_CORE_LIBRARIES)
  foreach(lib IN LISTS core)
    set(links "")
    _zandrel_collect_links(${lib} links)
    foreach(item IN LISTS links)
      if(item MATCHES "(^|[^A-Za-z])Qt[0-9]*(::|Core|Gui|Widgets)")
        message(FATAL_ERROR "${lib} is a core library and must not link Qt, but links ${item}")
      endif()
    endforeach()
  endforeach()
endfunction()
