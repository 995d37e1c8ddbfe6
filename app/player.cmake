# The media player over FluidSynth: library quavella_player (no Qt).
add_library(quavella_player STATIC ${CMAKE_CURRENT_LIST_DIR}/fluid_player.cpp)
target_include_directories(quavella_player PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quavella_player PUBLIC PkgConfig::FLUIDSYNTH PRIVATE quavella_warnings)
