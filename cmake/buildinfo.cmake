# Writes the translation unit that defines quorvale's build-identification
# values. Run at build time (cmake -P), so that a new commit or a new value
# is picked up without reconfiguring; the output is rewritten only when its
# content changes, so with a fixed date (SOURCE_DATE_EPOCH, or a date given)
# an unchanged build relinks nothing.
#
# Inputs (-D):
#   OUTPUT                the .cpp file to write
#   SOURCE_DIR            the source tree, for its git revision
#   VERSION_FILE          a file whose bytes are the version
#   GIT_COMMIT_HASH_FILE  a file whose bytes are the revision; empty: git HEAD
#   BUILD_DATE_TIME_FILE  a file whose bytes are the date; empty: the clock
#
# Values travel as files and are emitted as escaped bytes, so no byte of
# them is ever seen by a shell, a compiler command line or a CMake list.

# Shown in place of the revision when the source is no git checkout.
set(unknown_revision "unknown")

function(git_revision out)
  set(${out} "${unknown_revision}" PARENT_SCOPE)
  find_program(git_exe git)
  if(NOT git_exe)
    return()
  endif()
  # Only the source tree's own repository counts, not one that merely
  # encloses it.
  execute_process(
    COMMAND "${git_exe}" -C "${SOURCE_DIR}" rev-parse --show-toplevel HEAD
    OUTPUT_VARIABLE lines RESULT_VARIABLE rc ERROR_QUIET
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    return()
  endif()
  string(REPLACE "\n" ";" lines "${lines}")
  list(LENGTH lines n)
  if(NOT n EQUAL 2)
    return()
  endif()
  list(GET lines 0 top)
  list(GET lines 1 head)
  file(REAL_PATH "${top}" top)
  file(REAL_PATH "${SOURCE_DIR}" src)
  if(top STREQUAL src AND head MATCHES "^[0-9a-f]+$")
    set(${out} "${head}" PARENT_SCOPE)
  endif()
endfunction()

# Reads a value's bytes, as hexadecimal, from a file or from text.
function(value_hex out file text)
  if(file)
    file(READ "${file}" hex HEX)
  else()
    string(HEX "${text}" hex)
  endif()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# A C++ definition of a std::string_view holding exactly the given bytes.
function(definition out name hex)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "(..)" "\\\\x\\1" escaped "${hex}")
  set(${out} "constinit const std::string_view ${name}{\"${escaped}\", ${size}};\n"
      PARENT_SCOPE)
endfunction()

set(revision "")
if(NOT GIT_COMMIT_HASH_FILE)
  git_revision(revision)
endif()
# string(TIMESTAMP) honours SOURCE_DATE_EPOCH from the environment.
string(TIMESTAMP clock "%Y%m%dT%H%M%SZ" UTC)

value_hex(version_hex "${VERSION_FILE}" "")
value_hex(revision_hex "${GIT_COMMIT_HASH_FILE}" "${revision}")
value_hex(date_hex "${BUILD_DATE_TIME_FILE}" "${clock}")

definition(version_def Version "${version_hex}")
definition(revision_def GitCommitHash "${revision_hex}")
definition(date_def BuildDateTime "${date_hex}")

set(content "// Generated at build time by cmake/buildinfo.cmake.
#include <string_view>

namespace quorvale {

extern const std::string_view Version;
extern const std::string_view GitCommitHash;
extern const std::string_view BuildDateTime;

${version_def}${revision_def}${date_def}
}  // namespace quorvale
")

file(WRITE "${OUTPUT}.tmp" "${content}")
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
file(REMOVE "${OUTPUT}.tmp")
