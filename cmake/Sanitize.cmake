# QUORVALE_SANITIZE=address builds everything with the address and
# undefined-behaviour sanitizers, QUORVALE_SANITIZE=thread with the thread
# sanitizer. Any report ends the process with a failure, so a test that
# provokes one fails.
set(QUORVALE_SANITIZE "" CACHE STRING "Sanitizers: empty, address or thread")
set_property(CACHE QUORVALE_SANITIZE PROPERTY STRINGS "" address thread)

if(QUORVALE_SANITIZE STREQUAL "address")
  set(_quorvale_sanitize -fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(QUORVALE_SANITIZE STREQUAL "thread")
  set(_quorvale_sanitize -fsanitize=thread)
elseif(NOT QUORVALE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUORVALE_SANITIZE must be empty, address or thread, "
                      "not \"${QUORVALE_SANITIZE}\"")
endif()

if(_quorvale_sanitize)
  if(NOT QUORVALE_LINK STREQUAL "dynamic")
    message(FATAL_ERROR "QUORVALE_SANITIZE needs QUORVALE_LINK=dynamic: the "
                        "sanitizer runtimes are not linked statically")
  endif()
  add_compile_options(${_quorvale_sanitize} -fno-omit-frame-pointer)
  add_link_options(${_quorvale_sanitize})
endif()
