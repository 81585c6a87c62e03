# Layers: every folder of the program is one layer, built as one static
# library of portable code (vellum_<layer>) and, in the Windows configuration,
# one of Win32 code (vellum_<layer>_win). A layer sees the headers of its own
# folder and of the layers below it, and nothing else: its sources are
# compiled against a view of the source tree (build/layers/<layer>/) that
# holds a link for each of those folders only. An include of a higher layer's
# header ("shell/settings.h" from proxy/, say) therefore fails to build with
# "No such file or directory".
#
# vellum_layer(<layer> [DEPENDS <lower layer>...])
#   Declares the layer and creates both libraries; the folder's CMakeLists
#   then adds its sources to them with vellum_layer_sources.
# vellum_layer_sources(<layer> [PORTABLE <file>...] [WIN32 <file>...])
#   PORTABLE sources go into vellum_<layer> in both configurations, WIN32
#   sources into vellum_<layer>_win in the Windows configuration only.

set(VELLUM_LAYER_ROOT ${CMAKE_BINARY_DIR}/layers)

function(vellum_layer layer)
    cmake_parse_arguments(L "" "" "DEPENDS" ${ARGN})
    # Everything below, transitively: the folders the view links.
    set(visible ${layer})
    foreach(dep IN LISTS L_DEPENDS)
        get_property(dep_visible GLOBAL PROPERTY VELLUM_LAYER_${dep}_VISIBLE)
        if(NOT dep_visible)
            message(FATAL_ERROR "layer ${layer}: ${dep} must be declared before it")
        endif()
        list(APPEND visible ${dep_visible})
    endforeach()
    list(REMOVE_DUPLICATES visible)
    set_property(GLOBAL PROPERTY VELLUM_LAYER_${layer}_VISIBLE ${visible})
    set_property(GLOBAL APPEND PROPERTY VELLUM_LAYERS ${layer})

    # The view is brought up to date rather than made afresh: a file written
    # again at every configure would make the build relink everything above
    # it each time.
    set(view ${VELLUM_LAYER_ROOT}/${layer})
    file(MAKE_DIRECTORY ${view})
    file(GLOB present RELATIVE ${view} ${view}/*)
    foreach(entry IN LISTS present)
        if(NOT entry IN_LIST visible AND NOT entry STREQUAL ".layer_${layer}.cpp")
            file(REMOVE_RECURSE ${view}/${entry})
        endif()
    endforeach()
    foreach(folder IN LISTS visible)
        if(NOT IS_SYMLINK ${view}/${folder})
            file(REMOVE_RECURSE ${view}/${folder})
            file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
        endif()
    endforeach()
    # A layer may have no sources of one kind yet; an empty unit keeps its
    # library well-formed. (Written only when its text changes.)
    file(CONFIGURE OUTPUT ${view}/.layer_${layer}.cpp CONTENT "// The ${layer} layer's empty unit.\n")

    add_library(vellum_${layer} STATIC ${view}/.layer_${layer}.cpp)
    target_include_directories(vellum_${layer} PRIVATE ${view})
    foreach(dep IN LISTS L_DEPENDS)
        target_link_libraries(vellum_${layer} PUBLIC vellum_${dep})
    endforeach()
    if(VELLUM_WINDOWS)
        add_library(vellum_${layer}_win STATIC ${view}/.layer_${layer}.cpp)
        target_include_directories(vellum_${layer}_win PRIVATE ${view})
        target_link_libraries(vellum_${layer}_win PUBLIC vellum_${layer})
        foreach(dep IN LISTS L_DEPENDS)
            target_link_libraries(vellum_${layer}_win PUBLIC vellum_${dep}_win)
        endforeach()
    endif()
endfunction()

function(vellum_layer_sources layer)
    cmake_parse_arguments(S "" "" "PORTABLE;WIN32" ${ARGN})
    if(S_PORTABLE)
        target_sources(vellum_${layer} PRIVATE ${S_PORTABLE})
    endif()
    if(S_WIN32 AND VELLUM_WINDOWS)
        target_sources(vellum_${layer}_win PRIVATE ${S_WIN32})
    endif()
endfunction()
