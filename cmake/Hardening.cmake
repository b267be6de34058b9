# Debian 12's hardening build flags (dpkg-buildflags with hardening=+all on amd64; GCC there
# makes position-independent executables already), for every build that is not a sanitizer
# build: the sanitizers bring their own checks and interpose the libc functions that
# _FORTIFY_SOURCE replaces.
if(STILLWICK_SANITIZE)
  return()
endif()

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
# The checked libc calls exist only where the compiler optimises.
add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
add_link_options(-Wl,-z,relro -Wl,-z,now)
