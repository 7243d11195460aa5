# What the distributions' hardening checks ask of the installed executables,
# for builds whose flags do not already give it (a distribution's own build
# passes its hardening flags in CFLAGS, CXXFLAGS and LDFLAGS):
# - every executable is linked with immediate binding (-z now; with -z relro,
#   the GOT is read-only once the program runs);
# - the root helpers and the code they share with the program are compiled
#   with _FORTIFY_SOURCE, which checks the sizes of buffers passed to the C
#   library. (The whole program would mean rebuilding every object of every
#   build tree; its root-side part is what runs as root.)
# Sanitizer and fuzzing builds keep their own instrumentation undisturbed.
if(PMR_SANITIZE STREQUAL "" AND NOT PMR_FUZZ)
  if(NOT "$ENV{LDFLAGS} ${CMAKE_EXE_LINKER_FLAGS}" MATCHES "-z,now")
    foreach(t pellomar update-install setup-input)
      target_link_options(${t} PRIVATE LINKER:-z,relro LINKER:-z,now)
    endforeach()
  endif()
  if(NOT "$ENV{CPPFLAGS} $ENV{CXXFLAGS} ${CMAKE_CXX_FLAGS}" MATCHES "_FORTIFY_SOURCE")
    foreach(t pmr_rootside update-install setup-input)
      # Only where the compiler optimises: glibc ignores it (and warns) at -O0.
      target_compile_definitions(${t} PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    endforeach()
  endif()
endif()
