# What the program is made of and how strictly it is compiled. Both the main
# build (the root CMakeLists.txt) and the fuzz build (tests/fuzz, a project
# of its own built with clang) include this file, so a new source file or a
# new warning reaches both without being listed twice.

get_filename_component(SONDREL_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

# The source folders are layers, lowest first: a folder may include headers
# of its own layer and of the layers before it, never of those after it.
# scripts/check_layers.sh enforces the same order.
set(SONDREL_LAYERS core timebase wavfile mixer engine console app)

option(SONDREL_WERROR "Treat compiler warnings as errors (the test scripts turn this on)" OFF)

# Everything compiled gets these. -Werror stays opt-in: a newer compiler
# with a new warning must not stop someone from building a release.
set(SONDREL_WARNINGS -Wall -Wextra)
if(SONDREL_WERROR)
  list(APPEND SONDREL_WARNINGS -Werror)
endif()

# The program's own sources (not the tests) are clean of these as well, so
# they are kept clean. Clang's -Wconversion also covers signed/unsigned
# mixing, which GCC keeps apart in -Wsign-conversion and which the program
# does not pass yet: turn that part off so both compilers check the same.
set(SONDREL_PROGRAM_WARNINGS -Wconversion -Wold-style-cast -Wshadow)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  list(APPEND SONDREL_PROGRAM_WARNINGS -Wno-sign-conversion)
endif()

# sondrel_program_sources(<var>): every .cpp file of the program but the one
# holding main(), which the executable adds on its own.
function(sondrel_program_sources out_var)
  set(sources)
  foreach(dir IN LISTS SONDREL_LAYERS)
    file(GLOB dir_sources CONFIGURE_DEPENDS ${SONDREL_SOURCE_ROOT}/${dir}/*.cpp)
    list(APPEND sources ${dir_sources})
  endforeach()
  list(REMOVE_ITEM sources ${SONDREL_SOURCE_ROOT}/app/main.cpp)
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()

