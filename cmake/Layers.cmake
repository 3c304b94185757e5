# The folders of src/ are layers, low to high:
#   websocket, values, obs, threading, proxy | integration, worker, auth, host, docks, plugin | panelhost
# Each layer is a library that links the layers below it that it uses. Its code
# sees its own folder and the folders of what it links, and nothing else: a
# library's include root is a folder holding one link,
# <build>/layers/<folder>/<folder> -> src/<folder>, so "host/X.h" named from a
# lower layer is a file no include path of that layer holds, and the compiler
# stops there. (Quoted includes look beside the including file first, but
# src/<folder>/host/ never exists.)

# The include root of one folder of src/, made at configure time.
# A link left by a checkout that has moved is made anew.
function(zorva_layer_root folder)
  set(link "${CMAKE_BINARY_DIR}/layers/${folder}/${folder}")
  set(target "${PROJECT_SOURCE_DIR}/src/${folder}")
  if(IS_SYMLINK "${link}")
    file(READ_SYMLINK "${link}" current)
    if(current STREQUAL target)
      return()
    endif()
    file(REMOVE "${link}")
  endif()
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/layers/${folder}")
  file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
endfunction()

set(ZORVA_LAYER_ORDER websocket values obs threading "proxy integration" worker auth host docks "plugin panelhost")

# The position of a folder in the order; folders on one rank are peers and
# never link each other.
function(zorva_layer_rank folder out)
  set(rank 0)
  foreach(layer IN LISTS ZORVA_LAYER_ORDER)
    string(REPLACE " " ";" peers "${layer}")
    if(folder IN_LIST peers)
      set(${out} ${rank} PARENT_SCOPE)
      return()
    endif()
    math(EXPR rank "${rank} + 1")
  endforeach()
  message(FATAL_ERROR "src/${folder} is in no layer: add it to ZORVA_LAYER_ORDER")
endfunction()

# zorva_add_layer(<target> <folder> SOURCES <file>... LINKS <target>...)
#
# A static library of the layer <folder>, whose code includes the headers of
# <folder> and of the targets it links, and whose consumers see the same. A
# link to a layer that is not lower stops the configure.
function(zorva_add_layer target folder)
  cmake_parse_arguments(LAYER "" "" "SOURCES;LINKS" ${ARGN})
  zorva_layer_root(${folder})
  zorva_layer_rank(${folder} rank)
  set(below "")
  foreach(link IN LISTS LAYER_LINKS)
    if(TARGET ${link})
      get_target_property(to ${link} ZORVA_LAYER)
      if(to AND NOT to STREQUAL folder)
        zorva_layer_rank(${to} to_rank)
        if(NOT to_rank LESS rank)
          message(FATAL_ERROR "${target} (src/${folder}) may not link ${link} (src/${to}): ${to} is not below ${folder}")
        endif()
      endif()
      if(to)
        list(APPEND below ${to})
      endif()
    endif()
  endforeach()
  add_library(${target} STATIC ${LAYER_SOURCES})
  target_include_directories(${target} PUBLIC "${CMAKE_BINARY_DIR}/layers/${folder}")
  target_link_libraries(${target} PUBLIC ${LAYER_LINKS} PRIVATE zorva_warnings)
  set_target_properties(${target} PROPERTIES ZORVA_LAYER "${folder}")
  # For scripts/include-graph and its test: which folders each folder links.
  list(REMOVE_ITEM below ${folder})
  set_property(GLOBAL APPEND PROPERTY ZORVA_LAYER_FOLDERS ${folder})
  set_property(GLOBAL APPEND PROPERTY ZORVA_LAYER_LINKS_${folder} ${below})
endfunction()

# Writes <build>/layers/links.txt, one line a folder: "<folder>: <folder>...",
# the layers its libraries link, after the line "order: <layer>..." (peers
# joined by "|").
function(zorva_write_layer_links)
  get_property(folders GLOBAL PROPERTY ZORVA_LAYER_FOLDERS)
  string(REPLACE " " "|" order "${ZORVA_LAYER_ORDER}")
  string(REPLACE ";" " " order "${order}")
  set(text "order: ${order}\n")
  string(REPLACE " " ";" ranked "${ZORVA_LAYER_ORDER}")
  foreach(folder IN LISTS ranked)
    if(NOT folder IN_LIST folders)
      continue()
    endif()
    get_property(links GLOBAL PROPERTY ZORVA_LAYER_LINKS_${folder})
    list(REMOVE_DUPLICATES links)
    list(SORT links)
    string(REPLACE ";" " " links "${links}")
    string(APPEND text "${folder}: ${links}\n")
  endforeach()
  file(WRITE "${CMAKE_BINARY_DIR}/layers/links.txt" "${text}")
endfunction()
