# kelvor_layer(<folder> SOURCES <files...> [PUBLIC <targets...>] [PRIVATE <targets...>])
#
# One static library per folder of the program, kelvor_<folder>, linked to the layers below
# it. Its headers are included as "<folder>/<header>.h" through an include directory of its
# own, which holds nothing but a link to the folder. So a file reaches the headers of its
# own layer and of the layers its library links, and no others: including a header of a
# layer above fails to compile.
function(kelvor_layer folder)
  cmake_parse_arguments(LAYER "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  set(target kelvor_${folder})
  add_library(${target} STATIC ${LAYER_SOURCES})
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${LAYER_PUBLIC} PRIVATE ${LAYER_PRIVATE} kelvor_warnings)
endfunction()
