# Flags every target of ours gets: cp1251 execution charset (sources are UTF-8,
# the program's text is single-byte cp1251) and warnings as errors.
add_compile_options(-finput-charset=UTF-8 -fexec-charset=CP1251)

if(ZELT_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=${ZELT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ZELT_SANITIZE})
endif()

if(WIN32)
  # One exe, no runtime DLLs beside it.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # No symbols in the file, and sections aligned in the file as in memory, so
  # the loader maps the image instead of copying it into private memory.
  add_link_options($<$<CONFIG:MinSizeRel,Release>:-s> -Wl,--file-alignment=0x1000)
  # Tests run under Wine, each build tree with a prefix of its own.
  set(ZELT_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run;${ZELT_WINEPREFIX})
endif()

function(zelt_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-missing-field-initializers)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR} ${ZELT_GENERATED_DIR})
endfunction()

# A static library of the given sources, or an interface-only target while a
# folder has no sources yet for this platform.
function(zelt_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    zelt_options(${name})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR} ${ZELT_GENERATED_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_LIBS})
  endif()
endfunction()
