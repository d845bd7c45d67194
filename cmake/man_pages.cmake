# Manual pages: made with help2man from each program's own --help and
# --version text, with the sections --help does not give from
# docs/man/PROGRAM.h2m, into build/man; installed below share/man. Without
# help2man the build goes on without them.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(STATUS "help2man not found: the manual pages are not made "
                 "(install it with: bash scripts/deps.sh build)")
  return()
endif()

set(MAN_PAGE_DIR ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${MAN_PAGE_DIR})
set(man_pages)

# man_page(PROGRAM SECTION NAME [--commands])
function(man_page program section name)
  set(include ${PROJECT_SOURCE_DIR}/docs/man/${program}.h2m)
  set(page ${MAN_PAGE_DIR}/${program}.${section}.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/make_man_page.sh ${HELP2MAN}
            $<TARGET_FILE:${program}> ${section} ${name} ${include} ${page} ${ARGN}
    DEPENDS ${program} ${include} ${PROJECT_SOURCE_DIR}/cmake/make_man_page.sh
    COMMENT "Manual page ${program}(${section})"
    VERBATIM)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  set(man_pages ${man_pages} ${page} PARENT_SCOPE)
endfunction()

man_page(orvsite 8 "lay out, check and tend the sites of index cells" --commands)
man_page(orv 1 "the site manager of index cells (CGI program)")
man_page(cellkit 1 "the template manager of index cells (CGI program)")
man_page(vexil 1 "turn page descriptions into HTML pages (CGI program)")
man_page(tagwell 1 "console test driver of the naming service")
add_custom_target(man_pages ALL DEPENDS ${man_pages})
