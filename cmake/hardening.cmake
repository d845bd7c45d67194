# Hardening of the programs, as Debian builds its packages: libc calls
# checked against their buffers' sizes (needs optimisation, so not in Debug
# builds), a stack protector for functions with arrays, relocations made
# read-only and every symbol bound at start, position-independent
# executables. On by default, so the Debian package made with cpack from an
# ordinary build is hardened; the sanitizer and fuzz builds bring checks of
# their own and leave it out.
option(HARDENING "Build with fortified libc calls, stack protector, full RELRO and PIE" ON)
if(HARDENING AND NOT SANITIZE AND NOT FUZZ)
  # (-U first: a compiler that fortifies by default at another level would
  # warn about the new definition)
  add_compile_options(-fstack-protector-strong
                      $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                      $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  add_link_options(-Wl,-z,relro,-z,now)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
endif()
