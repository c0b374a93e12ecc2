# Turns the reference report texts (one report line per text line) into a C++ source of string
# tables, so the programs carry them without reading any file.
# Called as: cmake -DOUT=<file.cpp> -DFILES=<a.txt|b.txt|...> -P embed_reference_texts.cmake
string(REPLACE "|" ";" files "${FILES}")
set(body "")
set(index "")
foreach(f IN LISTS files)
  # A text "tableN.txt" is the table specificsN.
  get_filename_component(name "${f}" NAME_WE)
  string(REGEX REPLACE "^table" "specifics" name "${name}")
  file(READ "${f}" text)
  string(REPLACE "\r" "" text "${text}")
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\",\n    \"" text "${text}")
  string(APPEND body "const char* const ${name}[] = {\n    \"${text}\",\n};\n\n")
  string(APPEND index "    {\"${name}\", ${name}, std::size(${name})},\n")
endforeach()
set(source "// Made by the build from data/reference/*.txt; edit the texts, not this file.\n")
string(APPEND source "#include <iterator>\n\n#include \"shared/reference_texts.h\"\n\nnamespace reference {\nnamespace {\n\n")
string(APPEND source "${body}}  // namespace\n\nconst EmbeddedText embedded_texts[] = {\n${index}};\n")
string(APPEND source "const size_t embedded_text_count = std::size(embedded_texts);\n\n}  // namespace reference\n")
file(WRITE "${OUT}" "${source}")
