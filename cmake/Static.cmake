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

# A normal run is all start-up, and on a virtual machine each page of code
# it touches for the first time costs a trap to the hypervisor. The C
# library's start-up code lies scattered over its half megabyte, with
# SQLite's megabyte beside it; linked in the order of startup.order (the
# functions a normal run executes, written by bench/order), it fits in a
# few pages. Only lld can order single functions; without it the link
# still works, in the archives' order.
option(QUORVALE_STARTUP_ORDER
       "Link the shipped programs with lld, their start-up code together" ON)
set(QUORVALE_STARTUP_ORDER_FILE "${CMAKE_CURRENT_LIST_DIR}/startup.order")
if(QUORVALE_STARTUP_ORDER AND NOT QUORVALE_LINK STREQUAL "dynamic")
  find_program(QUORVALE_LLD NAMES ld.lld DOC "lld, for the start-up order")
  if(NOT QUORVALE_LLD)
    message(STATUS "ld.lld not found: shipped programs linked without "
                   "their start-up order")
  endif()
endif()

# quorvale_link_shipped(<target>): links an executable the way
# QUORVALE_LINK says.
function(quorvale_link_shipped target)
  if(QUORVALE_LINK STREQUAL "dynamic")
    return()
  endif()
  if(QUORVALE_LINK STREQUAL "static")
    target_link_options(${target} PRIVATE -static -no-pie)
  else()
    target_link_options(${target} PRIVATE -static-pie)
  endif()
  if(QUORVALE_STARTUP_ORDER AND QUORVALE_LLD)
    # Names that this build lacks (another C library, a layer left out)
    # are skipped without a word: the order is a hint, never a contract.
    target_link_options(${target} PRIVATE -fuse-ld=lld
      "LINKER:--symbol-ordering-file=${QUORVALE_STARTUP_ORDER_FILE}"
      "LINKER:--no-warn-symbol-ordering")
    set_property(TARGET ${target} APPEND PROPERTY
      LINK_DEPENDS "${QUORVALE_STARTUP_ORDER_FILE}")
  endif()
endfunction()
