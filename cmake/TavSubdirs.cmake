# tav_add_present_subdirectories(dir...): adds each listed folder that has a
# CMakeLists.txt, so modules can arrive one by one without editing the parent.
function(tav_add_present_subdirectories)
  foreach(dir IN LISTS ARGN)
    # TAV_SKIP_DIRS (a list of folders) leaves work in progress out of a build.
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
    if(rel IN_LIST TAV_SKIP_DIRS)
      continue()
    endif()
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
