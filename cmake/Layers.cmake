# Each folder of src/ is a library that sees its own headers and those of the
# layers it links, nothing above: an include that runs up the layers does not
# compile, a call that runs up does not link.
#
# The trick: a library's public include folder is a view in the build tree
# holding one link, <view>/<folder> -> src/<folder>. Includes are written
# "folder/file.h", so they resolve only through the views a library was given.
function(ptzcam_view name folder)
    set(view ${CMAKE_BINARY_DIR}/layers/${name})
    file(MAKE_DIRECTORY ${view})
    file(CREATE_LINK ${folder} ${view}/${name} SYMBOLIC)
    set(PTZCAM_VIEW ${view} PARENT_SCOPE)
endfunction()

# ptzcam_layer(<folder> [BELOW <libraries>...]): the library ptz_<folder> from src/<folder>/*.cpp.
function(ptzcam_layer folder)
    cmake_parse_arguments(LAYER "" "" "BELOW;EXCLUDE" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp)
    foreach(excluded ${LAYER_EXCLUDE})
        list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/src/${folder}/${excluded})
    endforeach()
    ptzcam_view(${folder} ${CMAKE_SOURCE_DIR}/src/${folder})
    add_library(ptz_${folder} STATIC ${sources})
    target_include_directories(ptz_${folder} PUBLIC ${PTZCAM_VIEW})
    target_link_libraries(ptz_${folder} PUBLIC ${LAYER_BELOW})
    ptzcam_warnings(ptz_${folder})
endfunction()
