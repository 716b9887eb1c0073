# Each target reaches headers through an include root of its own in the build
# tree, <build>/include/<target>, holding links to its own folders only. A file
# then sees the headers of its target and of what that target links, and an
# include of any other folder fails to compile: the layers' direction (the
# engine never includes the window, the writer never includes libpff) is kept
# by the build, not by review. Includes still name the folder from the top,
# "scan/names.h" or "convert/writer/pst_writer.h".
#
# korvel_include_root(<target> <folder> [FILES <header>...])
#   Links <folder> (relative to the source root) into the target's root, or
#   with FILES only those headers of it (for a folder two targets share). The
#   root is PUBLIC, INTERFACE for a header-only target, PRIVATE for a program.
function(korvel_include_root target folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "FILES")
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  set(link ${root}/${folder})
  set(source ${PROJECT_SOURCE_DIR}/${folder})
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(arg_FILES)
    # A folder link left by an earlier configure goes; never glob through it.
    if(IS_SYMLINK ${link})
      file(REMOVE ${link})
    endif()
    file(MAKE_DIRECTORY ${link})
    file(GLOB stale LIST_DIRECTORIES false ${link}/*)
    if(stale)
      file(REMOVE ${stale})
    endif()
    foreach(header ${arg_FILES})
      file(CREATE_LINK ${source}/${header} ${link}/${header} SYMBOLIC)
    endforeach()
  else()
    if(IS_DIRECTORY ${link} AND NOT IS_SYMLINK ${link})
      file(GLOB stale LIST_DIRECTORIES false ${link}/*)
      if(stale)
        file(REMOVE ${stale})
      endif()
      file(REMOVE_RECURSE ${link})
    endif()
    file(CREATE_LINK ${source} ${link} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  elseif(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# korvel_forbid_header(<target> <header> <why>)
#   A header on the compiler's own paths (libpff's, where the system has it
#   installed) is not kept out by the include roots: the target's own files
#   find a stand-in for it first that stops the build with <why>. Private to
#   the target, so what links it still finds the real one.
function(korvel_forbid_header target header why)
  set(dir ${CMAKE_BINARY_DIR}/include/${target}.forbidden)
  file(CONFIGURE OUTPUT ${dir}/${header} CONTENT "#error \"${why}\"\n")
  target_include_directories(${target} BEFORE PRIVATE ${dir})
endfunction()
