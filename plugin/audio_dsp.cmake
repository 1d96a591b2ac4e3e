# The plug-in's JUCE-free audio building blocks: Biquad, tone filter runs, gains, the 2:1
# resampler and the per-chunk model chain. The processor's target links ferrowick_audio.
add_library(ferrowick_audio STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Biquad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FilterRuns.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Gain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Resampler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ModelChain.cpp
)
target_include_directories(ferrowick_audio PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(ferrowick_audio PUBLIC kep_core)
target_compile_options(ferrowick_audio PRIVATE ${FERROWICK_WARNINGS}
  # The filters' results are defined by their evaluation order: no fused multiply-adds.
  -ffp-contract=off)
