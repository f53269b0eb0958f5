# tav_add_present_subdirectories(dir...): adds each listed folder that has a
# CMakeLists.txt, so modules can arrive one by one without editing the parent.
function(tav_add_present_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
