# SPDX-License-Identifier: MIT
# Makes the Windows edition's string tables from the translation source the Linux edition
# compiles too: string ID 1000 + n holds the n-th text, in English (its source) and in simplified
# Chinese (its translation). The program finds a text by its English.
#
#   cmake -DTS=tarnvik_zh_CN.ts -DRC=strings.rc -P ts_to_rc.cmake
file(READ "${TS}" ts)
# Semicolons would split the list below; XML holds no control characters, so one stands in.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" ts "${ts}")
string(REPLACE "<message>" ";" messages "${ts}")
list(REMOVE_AT messages 0)

function(rc_text xml out)
  string(REPLACE "${semicolon}" ";" text "${xml}")
  foreach(entity "&lt;:<" "&gt;:>" "&quot;:\"" "&apos;:'")
    string(FIND "${entity}" ":" colon)
    string(SUBSTRING "${entity}" 0 ${colon} from)
    math(EXPR after "${colon} + 1")
    string(SUBSTRING "${entity}" ${after} -1 to)
    string(REPLACE "${from}" "${to}" text "${text}")
  endforeach()
  string(REPLACE "&amp;" "&" text "${text}")
  # A string table's own escapes: a doubled quote and a doubled backslash.
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(english "")
set(chinese "")
set(id 1000)
foreach(message IN LISTS messages)
  if(NOT message MATCHES "<source>([^<]*)</source>")
    message(FATAL_ERROR "a message without its source in ${TS}")
  endif()
  rc_text("${CMAKE_MATCH_1}" source)
  if(NOT message MATCHES "<translation>([^<]+)</translation>")
    message(FATAL_ERROR "no finished translation of \"${source}\" in ${TS}")
  endif()
  rc_text("${CMAKE_MATCH_1}" translation)
  string(APPEND english "    ${id}, \"${source}\"\n")
  string(APPEND chinese "    ${id}, \"${translation}\"\n")
  math(EXPR id "${id} + 1")
endforeach()
math(EXPR count "${id} - 1000")
file(WRITE "${RC}" "// Made from ${TS}: do not edit.
#include <windows.h>
#pragma code_page(65001)
LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US
STRINGTABLE
BEGIN
    999, \"${count}\"
${english}END

LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED
STRINGTABLE
BEGIN
    999, \"${count}\"
${chinese}END
")
