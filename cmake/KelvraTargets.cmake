# Helpers that keep the per-folder CMake files short.

set(KELVRA_WARNINGS -Wall -Wextra)

# Source files of one folder for this build: *.cpp, less the other platform's
# files and less program entry points (*_main_win32.cpp).
function(kelvra_glob_sources out dir)
  file(GLOB files CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(KELVRA_PLATFORM STREQUAL "win32")
    list(FILTER files EXCLUDE REGEX "_native(_test)?\\.cpp$")
  else()
    list(FILTER files EXCLUDE REGEX "_win32(_test)?\\.cpp$")
  endif()
  list(FILTER files EXCLUDE REGEX "_main_win32\\.cpp$")
  set(${out} ${files} PARENT_SCOPE)
endfunction()

function(kelvra_target_defaults target)
  target_compile_options(${target} PRIVATE ${KELVRA_WARNINGS})
  if(KELVRA_PLATFORM STREQUAL "win32")
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  endif()
endfunction()
