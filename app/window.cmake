# The window's module: the Qt-free commands (appcmd), the Qt windows
# (quavella_window) and the executable `quavella`.

# Platform services over the standard library; tests link it without Qt.
add_library(appcmd STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/std_platform.cpp)
target_include_directories(appcmd PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(appcmd PUBLIC quavella_core PRIVATE quavella_warnings)

# The windows and the Qt adapters of the platform services.
add_library(quavella_window STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/instructions_window.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/qt_platform.cpp)
set_target_properties(quavella_window PROPERTIES AUTOMOC ON)
target_link_libraries(quavella_window PUBLIC appcmd Qt6::Widgets PRIVATE quavella_warnings)
