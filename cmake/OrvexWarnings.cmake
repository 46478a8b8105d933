# Warnings are errors for our own targets only; third-party headers come in
# as system includes and do not trip them.
function(orvex_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wshadow
                                           -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
                                           -Woverloaded-virtual)
  # GCC 12 reports false -Wrestrict overlaps inside std::string at -O3 (GCC bug 105329).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()
