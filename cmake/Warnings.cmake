# Warnings on for our own code; the build is kept clean.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wcast-align -Wformat=2
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor> $<$<COMPILE_LANGUAGE:CXX>:-Woverloaded-virtual>)
