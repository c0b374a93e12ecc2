# Joins the help pages into one page: the contents first, then every other page, each in a
# section named after its file, with the links between pages made links within the page.
# cmake -DHELP_DIR=<dir> -DOUT=<file> -P help_page.cmake
file(GLOB pages RELATIVE ${HELP_DIR} ${HELP_DIR}/*.html)
list(SORT pages)
list(REMOVE_ITEM pages index.html)
list(PREPEND pages index.html)

set(body "")
foreach(page IN LISTS pages)
  file(READ ${HELP_DIR}/${page} text)
  string(REGEX REPLACE ".*<body>" "" text "${text}")
  string(REGEX REPLACE "</body>.*" "" text "${text}")
  string(REGEX REPLACE "href=\"[a-z0-9-]+\\.html#" "href=\"#" text "${text}")
  string(REGEX REPLACE "href=\"([a-z0-9-]+)\\.html\"" "href=\"#\\1\"" text "${text}")
  string(REGEX REPLACE "\\.html$" "" id "${page}")
  string(APPEND body "<div id=\"${id}\">\n${text}\n</div>\n")
endforeach()
file(WRITE ${OUT} "<html><head><meta charset=\"utf-8\"><title>Kestrel Help</title></head><body>\n${body}</body></html>\n")
