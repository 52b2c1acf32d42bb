# Warnings and sanitizers live in one INTERFACE target that every target of
# this project links, so flags are set in one place.
add_library(tessel_options INTERFACE)
target_compile_options(tessel_options INTERFACE -Wall -Wextra -Wpedantic)
if(TESSEL_SANITIZE)
  target_compile_options(tessel_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tessel_options INTERFACE -fsanitize=address,undefined)
endif()

# Programs built outside this tree against an installed sanitized build (the
# packaging tests) must carry the same runtime, or the library cannot load.
if(TESSEL_SANITIZE)
  set(TESSEL_CONSUMER_ENV "CXXFLAGS=-fsanitize=address,undefined" "LDFLAGS=-fsanitize=address,undefined")
else()
  set(TESSEL_CONSUMER_ENV "")
endif()
