# The pure C++ core's sources, for the extension and for the fuzz and test
# executables alike: everything under src/core, src/lint and src/source,
# with exactly one of the directive-source platform files
# (src/source/platform_<name>.cpp) for the platform being built for.
#
#   include(path/to/core_sources.cmake)
#   tarnwick_core_sources(SOURCES "${TARNWICK_SOURCE_DIR}")
function(tarnwick_core_sources out src)
  file(GLOB sources CONFIGURE_DEPENDS
    "${src}/core/*.cpp" "${src}/lint/*.cpp" "${src}/source/*.cpp")
  list(FILTER sources EXCLUDE REGEX "/source/platform_[a-z0-9]+\\.cpp$")
  if(WIN32)
    list(APPEND sources "${src}/source/platform_windows.cpp")
  else()
    list(APPEND sources "${src}/source/platform_posix.cpp")
  endif()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# Warnings for the project's own code, in each compiler's spelling.
function(tarnwick_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra ${ARGN})
  endif()
endfunction()
