# One static library per source folder, with the folders it may use declared.
#
#   quellmark_folder_library(FOLDER <folder under src/> [SOURCES <files>] [EXTRA_SOURCES <files>]
#                            [DEPENDS <folder> ...] [LINK <other libraries> ...])
#
# The library is called quellmark_<folder> (a slash becomes an underscore) and builds every
# .cpp file of the folder unless SOURCES lists them. Its code, and the code of whatever links
# it, reaches the folder's headers as "<folder>/<file>.h" through an include view: a folder in
# the build tree holding links to that folder's headers and nothing else. A library therefore
# sees only its own headers and those of the folders it declares (and what they declare), so an
# include that runs the wrong way fails to compile. A folder may only depend on folders that
# were declared before it: the order of the calls is the order of the layers, and no cycle can
# be written down.
set(QUELLMARK_DECLARED_FOLDERS "" CACHE INTERNAL "")

function(quellmark_folder_library)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "FOLDER" "SOURCES;EXTRA_SOURCES;DEPENDS;LINK")
  string(REPLACE "/" "_" suffix "${arg_FOLDER}")
  set(name quellmark_${suffix})
  set(source_dir ${PROJECT_SOURCE_DIR}/src/${arg_FOLDER})
  if(NOT arg_SOURCES)
    file(GLOB arg_SOURCES CONFIGURE_DEPENDS ${source_dir}/*.cpp)
  endif()
  foreach(dependency IN LISTS arg_DEPENDS)
    if(NOT dependency IN_LIST QUELLMARK_DECLARED_FOLDERS)
      message(FATAL_ERROR "src/${arg_FOLDER} may only depend on folders declared before it; "
                          "src/${dependency} is not (yet) one of them")
    endif()
  endforeach()

  set(view ${PROJECT_BINARY_DIR}/include-views/${suffix})
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view}/${arg_FOLDER})
  file(GLOB headers CONFIGURE_DEPENDS ${source_dir}/*.h)
  foreach(header IN LISTS headers)
    get_filename_component(file_name ${header} NAME)
    file(CREATE_LINK ${header} ${view}/${arg_FOLDER}/${file_name} SYMBOLIC COPY_ON_ERROR)
  endforeach()

  add_library(${name} STATIC ${arg_SOURCES} ${arg_EXTRA_SOURCES})
  target_include_directories(${name} PUBLIC ${view})
  foreach(dependency IN LISTS arg_DEPENDS)
    string(REPLACE "/" "_" dependency_suffix "${dependency}")
    target_link_libraries(${name} PUBLIC quellmark_${dependency_suffix})
  endforeach()
  if(arg_LINK)
    target_link_libraries(${name} PUBLIC ${arg_LINK})
  endif()
  set(QUELLMARK_DECLARED_FOLDERS ${QUELLMARK_DECLARED_FOLDERS} ${arg_FOLDER} CACHE INTERNAL "")
endfunction()
