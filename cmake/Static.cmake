# How the shipped programs are linked.
#
#   static      one self-contained executable at a fixed address: the C++
#               runtime, SQLite and the C library linked in, no loader run
#   static-pie  the same, position independent, so the kernel places it at
#               a random address; it relocates itself at every start
#   dynamic     the toolchain's default, for the sanitizer builds, whose
#               runtimes must be loaded dynamically
#
# Only programs linked with quorvale_link_shipped() are affected; the test
# executables stay dynamic.
set(QUORVALE_LINK "static" CACHE STRING
    "How the shipped programs are linked: static, static-pie or dynamic")
set_property(CACHE QUORVALE_LINK PROPERTY STRINGS static static-pie dynamic)
if(NOT QUORVALE_LINK MATCHES "^(static|static-pie|dynamic)$")
  message(FATAL_ERROR "QUORVALE_LINK must be static, static-pie or dynamic, "
                      "not \"${QUORVALE_LINK}\"")
endif()

if(QUORVALE_LINK STREQUAL "static-pie")
  # Every object that ends up in a static-pie executable must be position
  # independent, whatever the compiler's default.
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()

# FindSQLite3 prefers the shared library. A static link needs the archive
# beside it, and the archive needs the maths library that the shared one
# would have brought along. The imported target is made here, in the top
# directory, so that every later find_package(SQLite3) reuses it.
if(NOT QUORVALE_LINK STREQUAL "dynamic")
  find_package(SQLite3 REQUIRED)
  get_filename_component(_quorvale_sqlite_dir "${SQLite3_LIBRARY}" DIRECTORY)
  find_library(QUORVALE_SQLITE3_ARCHIVE
    NAMES libsqlite3.a
    HINTS "${_quorvale_sqlite_dir}"
    DOC "SQLite's static archive, for the static link")
  if(NOT QUORVALE_SQLITE3_ARCHIVE)
    message(FATAL_ERROR "QUORVALE_LINK=${QUORVALE_LINK} needs SQLite's static "
                        "archive (libsqlite3.a), which was not found")
  endif()
  find_package(Threads REQUIRED)
  set_target_properties(SQLite::SQLite3 PROPERTIES
    IMPORTED_LOCATION "${QUORVALE_SQLITE3_ARCHIVE}"
    INTERFACE_LINK_LIBRARIES "m;Threads::Threads;${CMAKE_DL_LIBS}")
endif()

# quorvale_link_shipped(<target>): links an executable the way
# QUORVALE_LINK says.
function(quorvale_link_shipped target)
  if(QUORVALE_LINK STREQUAL "static")
    target_link_options(${target} PRIVATE -static -no-pie)
  elseif(QUORVALE_LINK STREQUAL "static-pie")
    target_link_options(${target} PRIVATE -static-pie)
  endif()
endfunction()
