# The decoder's sources, part of the OS-free library shared by the stub, the tests and the benchmarks.
target_sources(aksfx_pure PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/crc32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cipher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/huffman.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inflate.cpp
)
