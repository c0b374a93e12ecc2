# The distribution folder, <build>/dist/kestrel-1.21: the launcher, the expander and the socket
# library as they are; every other installed file as one gzip member named with a trailing "_"
# (made by the expander itself, so the header depends only on the file).
#
# Rows: <name in the distribution> <target or source file> <COPY|COMPRESS>. A row whose program
# is not built (yet) is left out, and configuring says so. Runs once every target of the project
# is known, and writes <build>/dist/rows.txt: one line per row, "made <name>" or "skipped <name>".

set(KESTREL_DIST_DIR ${CMAKE_BINARY_DIR}/dist/kestrel-1.21)
set(KESTREL_DATA_INSTALL ${PROJECT_SOURCE_DIR}/data/install)

set(KESTREL_HELP_PAGE ${CMAKE_BINARY_DIR}/data/kestrel-help.html)

set(KESTREL_DIST_ROWS
  "setup|setup|COPY"
  "expand|expand|COPY"
  "libkestrel.so|kestrel_socket|COPY"
  "setupkes_|setupkes|COMPRESS"
  "expand_|expand|COMPRESS"
  "libkestest.so_|kestest|COMPRESS"
  "libkestrel.so_|kestrel_socket|COMPRESS"
  "kestrel_|kestrel|COMPRESS"
  "kestrel-help.html_|${KESTREL_HELP_PAGE}|COMPRESS"
  "kestrel.txt_|${KESTREL_DATA_INSTALL}/kestrel.txt|COMPRESS"
  "libkeschk.so_|keschk|COMPRESS"
  "glance_|glance|COMPRESS"
  "example.sig_|${KESTREL_DATA_INSTALL}/example.sig|COMPRESS"
  "loadmeter_|loadmeter|COMPRESS"
  "readme.1st_|${KESTREL_DATA_INSTALL}/readme.1st|COMPRESS"
  "unkes_|unkes|COMPRESS"
  "userfile.dbf_|${KESTREL_DATA_INSTALL}/userfile.dbf|COMPRESS"
  "lumen_|lumen|COMPRESS"
)

# The rows and the folder travel as global properties: the deferred call runs in the top
# directory's scope.
set_property(GLOBAL PROPERTY KESTREL_DIST_ROWS "${KESTREL_DIST_ROWS}")
set_property(GLOBAL PROPERTY KESTREL_DIST_DIR "${KESTREL_DIST_DIR}")

function(kestrel_make_dist)
  get_property(rows GLOBAL PROPERTY KESTREL_DIST_ROWS)
  get_property(KESTREL_DIST_DIR GLOBAL PROPERTY KESTREL_DIST_DIR)
  # The help pages as one page, for the installed help item.
  set(help_page ${CMAKE_BINARY_DIR}/data/kestrel-help.html)
  file(GLOB help_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/help/*.html)
  add_custom_command(OUTPUT ${help_page}
    COMMAND ${CMAKE_COMMAND} -DHELP_DIR=${PROJECT_SOURCE_DIR}/data/help -DOUT=${help_page}
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/help_page.cmake
    DEPENDS ${help_pages} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/help_page.cmake
    COMMENT "One help page for the installation")

  set(outputs "")
  set(made "")
  foreach(row IN LISTS rows)
    string(REPLACE "|" ";" parts "${row}")
    list(GET parts 0 name)
    list(GET parts 1 from)
    list(GET parts 2 how)
    if(IS_ABSOLUTE "${from}")
      set(file "${from}")
      set(deps "${from}")
    elseif(TARGET ${from})
      set(file "$<TARGET_FILE:${from}>")
      set(deps ${from})
    else()
      message(STATUS "dist: ${name} left out (no target ${from} in this tree)")
      string(APPEND made "skipped ${name}\n")
      continue()
    endif()
    string(APPEND made "made ${name}\n")
    set(out ${KESTREL_DIST_DIR}/${name})
    if(how STREQUAL "COPY")
      add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_DIST_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy ${file} ${out}
        DEPENDS ${deps} VERBATIM)
    else()
      add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_DIST_DIR}
        COMMAND $<TARGET_FILE:expand> --compress ${file} ${out}
        DEPENDS ${deps} expand VERBATIM)
    endif()
    list(APPEND outputs ${out})
  endforeach()
  add_custom_target(dist DEPENDS ${outputs})
  file(WRITE ${CMAKE_BINARY_DIR}/dist/rows.txt "${made}")
endfunction()

cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kestrel_make_dist)
