# Run by CTest with -DPROGRAM=<the chronoreel executable> -DBUILD_DIR=<the build folder>.
file(STRINGS "${PROGRAM}" tool_code REGEX "TakeScreenshots|CHRONOREEL_SCREENSHOT")
if(tool_code)
  message(FATAL_ERROR "the program holds the screenshot tool")
endif()

# The targets of the current configuration; a moc step shows as <target>_autogen.
file(STRINGS "${BUILD_DIR}/CMakeFiles/TargetDirectories.txt" autogen REGEX "_autogen\\.dir$")
foreach(dir ${autogen})
  get_filename_component(name "${dir}" NAME)
  if(NOT name MATCHES "^(chronoreel_ui|test_ui_[a-z_]+)_autogen\\.dir$")
    message(FATAL_ERROR "the meta-object compiler runs for ${name}, which declares no Qt object")
  endif()
endforeach()
