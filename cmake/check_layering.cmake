# Fails when a file includes from a folder above its own. Run by the build
# (src/CMakeLists.txt) before any library of the program is compiled:
#
#   cmake -DROOTS=<dir>,<dir> -DAREAS=<area>,... -DALLOWED_<area>=<area>,...
#         -DSTAMP=<file> -P check_layering.cmake
#
# (lists with commas, which pass through a build tool's command line whole).
# ROOTS are folders with one subfolder per area (src/ and tests/); a file in
# <root>/<area>/ may include "<other>/..." only when <other> is in
# ALLOWED_<area>. Includes of folders that are no area (support/, fixtures/)
# are not this check's business.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" ROOTS "${ROOTS}")
string(REPLACE "," ";" AREAS "${AREAS}")
foreach(area IN LISTS AREAS)
  string(REPLACE "," ";" ALLOWED_${area} "${ALLOWED_${area}}")
endforeach()
set(failures "")
foreach(root IN LISTS ROOTS)
  foreach(area IN LISTS AREAS)
    file(GLOB files ${root}/${area}/*.h ${root}/${area}/*.cpp ${root}/${area}/*.rc)
    foreach(file IN LISTS files)
      file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
      foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*" "\\1" folder "${line}")
        if(folder IN_LIST AREAS AND NOT folder IN_LIST ALLOWED_${area})
          file(RELATIVE_PATH shown ${root}/.. ${file})
          string(APPEND failures "  ${shown}: ${line} (${area}/ may include only from: ${ALLOWED_${area}})\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Includes from a folder above the file's own:\n${failures}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
