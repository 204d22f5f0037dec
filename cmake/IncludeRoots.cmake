# The layers of the program, enforced by the build.
#
# Each library gets an include root of its own, in the build tree, that
# holds only its own source folders (as links into the source tree). A
# library sees the folders of the libraries it links (their roots are
# public), so a file can include the headers of its own layer and of the
# layers below it; an #include of a layer above, or of one it does not
# link, names a file that is not there and fails to build.
function(velmora_include_root target)
  set(root "${CMAKE_BINARY_DIR}/include-roots/${target}")
  foreach(folder IN LISTS ARGN)
    set(link "${root}/${folder}")
    get_filename_component(parent "${link}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    # Only the link goes, never what it points to.
    if(IS_SYMLINK "${link}")
      file(REMOVE "${link}")
    endif()
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${link}" SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC "${root}")
endfunction()
