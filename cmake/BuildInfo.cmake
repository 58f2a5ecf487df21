# quorvale_add_build_info(<name> VERSION_FILE <file>
#                         [GIT_COMMIT_HASH_FILE <file>]
#                         [BUILD_DATE_TIME_FILE <file>])
#
# Creates the object library <name>: the definitions of Version,
# GitCommitHash and BuildDateTime, regenerated at every build from the
# given files (a missing revision file means the source tree's git HEAD, a
# missing date file the build's clock in UTC).
set(QUORVALE_BUILD_INFO_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/buildinfo.cmake")

function(quorvale_add_build_info name)
  cmake_parse_arguments(PARSE_ARGV 1 arg ""
    "VERSION_FILE;GIT_COMMIT_HASH_FILE;BUILD_DATE_TIME_FILE" "")
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp")
  add_custom_target(${name}_generate
    COMMAND "${CMAKE_COMMAND}"
      "-DOUTPUT=${out}"
      "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}"
      "-DVERSION_FILE=${arg_VERSION_FILE}"
      "-DGIT_COMMIT_HASH_FILE=${arg_GIT_COMMIT_HASH_FILE}"
      "-DBUILD_DATE_TIME_FILE=${arg_BUILD_DATE_TIME_FILE}"
      -P "${QUORVALE_BUILD_INFO_SCRIPT}"
    BYPRODUCTS "${out}"
    COMMENT "Stamping build identification"
    VERBATIM)
  add_library(${name} OBJECT "${out}")
  add_dependencies(${name} ${name}_generate)
endfunction()

# Writes text to file only when the file does not hold it already, so that
# a reconfigure with the same value rebuilds nothing.
function(quorvale_write_if_changed file text)
  if(EXISTS "${file}")
    file(READ "${file}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${file}" "${text}")
endfunction()
