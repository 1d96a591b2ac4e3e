# The framework's code that we compile, mended where it is at fault. Each patched module is copied
# from the distribution into the build tree, the patch is applied to the copy, and the framework's
# targets compile the copy's sources instead of the distribution's. Why each patch: "The framework's
# code" in docs/robustness.md.
find_program(FERROWICK_PATCH_PROGRAM patch)
if(NOT FERROWICK_PATCH_PROGRAM)
  message(FATAL_ERROR "The 'patch' program is needed to build the framework's patched modules (apt-get install patch)")
endif()

# Every include of a patched module's headers, relative or through the modules folder, then names
# the copy's files: a header reached under two paths would be read twice.
set(FERROWICK_JUCE_PATCHED_DIR "${CMAKE_BINARY_DIR}/juce-patched")
include_directories(BEFORE "${FERROWICK_JUCE_PATCHED_DIR}")

# ferrowick_patch_juce_module(MODULE PATCHES TARGET...): MODULE's copy with each of PATCHES (a list,
# applied in order; paths relative to the module folder, -p1) replaces the distribution's sources
# of each TARGET.
function(ferrowick_patch_juce_module module patches)
  get_target_property(module_path juce::${module} INTERFACE_JUCE_MODULE_PATH)
  set(original "${module_path}/${module}")
  set(copy_root "${FERROWICK_JUCE_PATCHED_DIR}")
  set(copy "${copy_root}/${module}")
  set(stamp "${copy_root}/${module}.stamp")
  set(stamp_text "${original}")
  foreach(patch IN LISTS patches)
    file(SHA256 "${patch}" patch_hash)
    string(APPEND stamp_text " ${patch_hash}")
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${patch}")
  endforeach()

  set(previous "")
  if(EXISTS "${stamp}")
    file(READ "${stamp}" previous)
  endif()
  if(NOT previous STREQUAL stamp_text OR NOT EXISTS "${copy}")
    file(REMOVE_RECURSE "${copy}" "${stamp}")
    file(COPY "${original}" DESTINATION "${copy_root}")
    foreach(patch IN LISTS patches)
      execute_process(
        COMMAND "${FERROWICK_PATCH_PROGRAM}" -p1 --forward --batch --dry-run -i "${patch}"
        WORKING_DIRECTORY "${copy}" RESULT_VARIABLE dry_run OUTPUT_VARIABLE output ERROR_VARIABLE output)
      if(NOT dry_run EQUAL 0)
        file(REMOVE_RECURSE "${copy}")
        message(FATAL_ERROR "The framework patch ${patch} does not apply to ${original}: it was made for "
                            "JUCE 7.0.5 (Debian's juce-modules-source); this framework is ${JUCE_VERSION}.\n${output}")
      endif()
      execute_process(
        COMMAND "${FERROWICK_PATCH_PROGRAM}" -p1 --forward --batch --silent -i "${patch}"
        WORKING_DIRECTORY "${copy}" RESULT_VARIABLE applied OUTPUT_VARIABLE output ERROR_VARIABLE output)
      if(NOT applied EQUAL 0)
        file(REMOVE_RECURSE "${copy}")
        message(FATAL_ERROR "Applying ${patch} to a copy of ${original} failed:\n${output}")
      endif()
    endforeach()
    file(WRITE "${stamp}" "${stamp_text}")
  endif()

  foreach(target IN LISTS ARGN)
    get_target_property(sources ${target} INTERFACE_SOURCES)
    list(TRANSFORM sources REPLACE "^${original}/" "${copy}/")
    set_property(TARGET ${target} PROPERTY INTERFACE_SOURCES "${sources}")
  endforeach()
endfunction()

# The VST3 wrapper's state functions: bounded, non-recursive reading of what a host hands back;
# and blocks longer than the host prepared for, played in slices instead of overflowing buffers.
ferrowick_patch_juce_module(juce_audio_plugin_client
  "${CMAKE_CURRENT_LIST_DIR}/juce_audio_plugin_client-vst3-state.patch;${CMAKE_CURRENT_LIST_DIR}/juce_audio_plugin_client-vst3-block-size.patch"
  juce_audio_plugin_client_VST3 juce_audio_plugin_client_utils)
# Files replaced by renaming (the settings file) reach the disk together with their folder, and a
# web address (a catalogue's "DeviceUrl") goes to the browser as one argument, never to a shell.
ferrowick_patch_juce_module(juce_core
  "${CMAKE_CURRENT_LIST_DIR}/juce_core-durable-rename.patch;${CMAKE_CURRENT_LIST_DIR}/juce_core-browser-launch.patch"
  juce_core)
# The image decoders behind a snapshot's picture: any bytes a picture file holds give a picture
# or none, never a read or write outside the data, and no size beyond what a picture needs.
ferrowick_patch_juce_module(juce_graphics "${CMAKE_CURRENT_LIST_DIR}/juce_graphics-image-decoders.patch" juce_graphics)
