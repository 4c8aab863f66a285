# Mends in framework code the plug-in compiles into itself, kept as one unified diff per
# module. The module's sources are copied from the installed framework into the build tree and
# the diff is applied to that copy; only the given interface targets (a plug-in format's
# wrapper) then compile the copy, every other target keeps the installed module.
#
#   kelvor_patch_framework_module(<module> <patch file> <interface target>...)
#
# The copy is made again only when the diff or the installed module changes, so configuring
# twice never applies a diff twice. A diff that no longer applies stops the configuration.

find_program(KELVOR_PATCH_EXECUTABLE patch REQUIRED)

function(kelvor_patch_framework_module module patch_file)
  get_target_property(modules_dir juce::juce_core INTERFACE_JUCE_MODULE_PATH)
  set(source "${modules_dir}/${module}")
  set(copy "${CMAKE_BINARY_DIR}/framework-patched/${module}")
  set(stamp "${CMAKE_BINARY_DIR}/framework-patched/${module}.stamp")

  # What the copy is made of: the diff and every file of the installed module.
  file(GLOB_RECURSE module_files LIST_DIRECTORIES FALSE "${source}/*")
  list(SORT module_files)
  file(SHA256 "${patch_file}" fingerprint)
  foreach(f IN LISTS module_files)
    file(SHA256 "${f}" h)
    string(APPEND fingerprint "${h}")
  endforeach()
  string(SHA256 fingerprint "${fingerprint}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${patch_file}" ${module_files})

  set(previous "")
  if(EXISTS "${stamp}" AND IS_DIRECTORY "${copy}")
    file(READ "${stamp}" previous)
  endif()

  if(NOT previous STREQUAL fingerprint)
    file(REMOVE_RECURSE "${copy}" "${stamp}")
    file(COPY "${source}" DESTINATION "${CMAKE_BINARY_DIR}/framework-patched")
    execute_process(
      COMMAND "${KELVOR_PATCH_EXECUTABLE}" -p1 --forward --batch --fuzz=0 --no-backup-if-mismatch
              --reject-file=- -d "${copy}" -i "${patch_file}"
      RESULT_VARIABLE result
      OUTPUT_VARIABLE output
      ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      file(REMOVE_RECURSE "${copy}")
      message(FATAL_ERROR "${patch_file} does not apply to ${source}:\n${output}")
    endif()
    file(WRITE "${stamp}" "${fingerprint}")
    message(STATUS "Patched ${module} in ${copy}")
  endif()

  foreach(target IN LISTS ARGN)
    get_target_property(sources ${target} INTERFACE_SOURCES)
    list(TRANSFORM sources REPLACE "^${source}/" "${copy}/")
    set_property(TARGET ${target} PROPERTY INTERFACE_SOURCES ${sources})
  endforeach()
endfunction()
