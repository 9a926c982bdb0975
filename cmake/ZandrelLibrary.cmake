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
#
# Libraries are declared from the bottom up (src/CMakeLists.txt): a library
# may link only libraries declared before it, which zandrel_check_layers()
# enforces at configure time.
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
  set_property(GLOBAL APPEND PROPERTY ZANDREL_LIBRARIES ${ZL_NAME})
  set_target_properties(${ZL_NAME} PROPERTIES ZANDREL_FOLDER ${ZL_FOLDER})
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

# zandrel_check_layers(): fails the configuration when a library declared
# with zandrel_library() links one declared after it: such an edge runs up
# the layers and, sooner or later, closes a cycle. Called once all libraries
# are declared.
function(zandrel_check_layers)
  get_property(libraries GLOBAL PROPERTY ZANDREL_LIBRARIES)
  set(index 0)
  foreach(lib IN LISTS libraries)
    get_target_property(folder ${lib} ZANDREL_FOLDER)
    get_target_property(direct ${lib} LINK_LIBRARIES)
    get_target_property(iface ${lib} INTERFACE_LINK_LIBRARIES)
    foreach(dep IN LISTS direct iface)
      if(NOT dep OR dep MATCHES "-NOTFOUND$")
        continue()
      endif()
      # Link items may be generator expressions for the link interface.
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
      list(FIND libraries ${dep} depIndex)
      if(depIndex GREATER_EQUAL index)
        get_target_property(depFolder ${dep} ZANDREL_FOLDER)
        message(FATAL_ERROR "${lib} (src/${folder}) links ${dep} (src/${depFolder}), which is declared after it: "
                            "libraries link only downward. Move the code that needs ${dep} up, or declare the "
                            "folders in the order they depend on each other.")
      endif()
    endforeach()
    math(EXPR index "${index} + 1")
  endforeach()
endfunction()
