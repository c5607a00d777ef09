# Builds that anyone can repeat byte for byte from the same commit, in any folder, at any time:
# the programs carry no folder names (debug info, __FILE__ in assertions) and no link time.
#
# Source paths become relative to the source tree, the build folder's to itself. GCC applies the
# last matching map, so the build folder, often inside the source tree, is named second.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=.>")

if(WIN32)
  # The PE header's TimeDateStamp would otherwise hold the moment of linking.
  add_link_options(-Wl,--no-insert-timestamp)
endif()
