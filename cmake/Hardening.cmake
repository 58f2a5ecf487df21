# Hardening that costs nothing measurable at run time, for every target:
# a canary in each function with a local array or address-taken local,
# checked buffer routines where the compiler knows the destination's size,
# and full RELRO (relocations applied at start-up, then made read-only).
option(QUORVALE_HARDEN "Build with stack protector, fortified buffer routines and full RELRO" ON)

if(QUORVALE_HARDEN)
  add_compile_options(-fstack-protector-strong)
  # The checked routines need an optimised build to know object sizes, and
  # the address sanitizer replaces them with its own checks.
  if(NOT QUORVALE_SANITIZE STREQUAL "address")
    add_compile_options(
      "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  endif()
  add_link_options(-Wl,-z,relro,-z,now)
endif()
