# The names of base/ProductNames.h for the build and the installer script:
# ZELT_NAME_<name> for each `inline constexpr TName kName{"text"};` there
# (ZELT_NAME_kMutexName ...), so that each name is written only there.
set(zelt_names_header ${CMAKE_SOURCE_DIR}/base/ProductNames.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zelt_names_header})
file(STRINGS ${zelt_names_header} zelt_name_lines REGEX "^inline constexpr TName k[A-Za-z]+\\{\".*\"\\};$")
foreach(line ${zelt_name_lines})
  string(REGEX REPLACE "^inline constexpr TName (k[A-Za-z]+)\\{\"(.*)\"\\};$" "\\1;\\2" pair "${line}")
  list(GET pair 0 name)
  list(GET pair 1 text)
  set(ZELT_NAME_${name} "${text}")
endforeach()
foreach(name kMutexName kProgramFileName kDataFileName)
  if(NOT DEFINED ZELT_NAME_${name})
    message(FATAL_ERROR "base/ProductNames.h names no ${name}")
  endif()
endforeach()
