# The library's layers, each an object library made of whole directories of src/.
#
#   qlm_layer(<name> DIRS <dir>... [USES <layer>...] [NO_CHECK])
#
# A layer uses only the layers it names (and what they use in turn). Each layer is
# also linked with those alone into a shared object that may leave no symbol
# undefined (<name>_alone): a call from a layer into one above it, or into one it
# does not name, fails to link. The objects of a layer and of all it uses are its
# property QLM_OBJECTS, for the targets made of them.
function(qlm_layer name)
  cmake_parse_arguments(L "NO_CHECK" "" "DIRS;USES" ${ARGN})
  set(sources)
  foreach(dir ${L_DIRS})
    file(GLOB found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${dir}/*.cc)
    list(APPEND sources ${found})
  endforeach()
  add_library(${name} OBJECT ${sources})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
  target_compile_definitions(${name} PRIVATE QLM_BUILDING_LIBRARY)
  set(objects $<TARGET_OBJECTS:${name}>)
  foreach(used ${L_USES})
    get_target_property(below ${used} QLM_OBJECTS)
    list(APPEND objects ${below})
  endforeach()
  list(REMOVE_DUPLICATES objects)
  set_target_properties(${name} PROPERTIES QLM_OBJECTS "${objects}")
  if(NOT L_NO_CHECK)
    add_library(${name}_alone SHARED ${objects})
    target_link_options(${name}_alone PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
