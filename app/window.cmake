# The window's module: the Qt-free commands (appcmd), the Qt windows
# (quavella_window) and the executable `quavella`.

# Commands over the platform interfaces; tests link it without Qt.
add_library(appcmd STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/compose_command.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/std_platform.cpp)
target_include_directories(appcmd PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(appcmd PUBLIC quavella_core PRIVATE quavella_warnings)

# The two windows and the Qt adapters of the platform services.
add_library(quavella_window STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/main_window.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/instructions_window.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/qt_platform.cpp)
set_target_properties(quavella_window PROPERTIES AUTOMOC ON)
target_link_libraries(quavella_window PUBLIC appcmd Qt6::Widgets PRIVATE quavella_warnings)

# The program, with the FluidSynth player as its MediaPlayer.
if(TARGET quavella_player)
  add_executable(quavella ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  target_link_libraries(quavella PRIVATE quavella_window quavella_player quavella_warnings)
endif()
