# The bridge (bridge/, rows/, procedures/, component/) and the jobs built on
# it (jobs/) are one object library; each folder lists its own sources in its
# CMakeLists.txt, as every folder of the project does.
add_library(tessel_bridge OBJECT)
foreach(dir bridge rows procedures component jobs)
  add_subdirectory(${PROJECT_SOURCE_DIR}/${dir} ${PROJECT_BINARY_DIR}/${dir})
endforeach()
target_include_directories(tessel_bridge PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
target_compile_definitions(tessel_bridge PUBLIC TESSELWRAPPER_BUILDING)
target_link_libraries(tessel_bridge PUBLIC tessel_data tessel PRIVATE tessel_options)

# What a user gets: one shared library holding the bridge, the component and
# the table model. Only the exported face (TESSELWRAPPER_API) is visible.
add_library(TesselWrapper SHARED
  $<TARGET_OBJECTS:tessel_data> $<TARGET_OBJECTS:tessel> $<TARGET_OBJECTS:tessel_bridge>)
add_library(TesselWrapper::TesselWrapper ALIAS TesselWrapper)
set_target_properties(TesselWrapper PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(TesselWrapper PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_link_libraries(TesselWrapper PRIVATE tessel_options tessel_backend_libs)
target_compile_features(TesselWrapper PUBLIC cxx_std_20)

# Tests link everything statically so that they can reach internal classes
# that the shared library hides.
add_library(tessel_static STATIC
  $<TARGET_OBJECTS:tessel_data> $<TARGET_OBJECTS:tessel> $<TARGET_OBJECTS:tessel_bridge>)
target_include_directories(tessel_static PUBLIC
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
if(WIN32)  # the iconv and langinfo of data/win32 for the tests too
  target_include_directories(tessel_static PUBLIC ${PROJECT_SOURCE_DIR}/data/win32)
endif()
target_compile_definitions(tessel_static PUBLIC TESSELWRAPPER_BUILDING)
target_link_libraries(tessel_static PUBLIC tessel_backend_libs)
