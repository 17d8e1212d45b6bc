# Writes OUTPUT, a C++ source that defines `std::string_view NAME()` in namespace NAMESPACE
# returning the text of INPUT. Run with: cmake -DINPUT=... -DOUTPUT=... -DNAMESPACE=...
# -DNAME=... -DHEADER=... -P embed_text.cmake
file(READ "${INPUT}" content)
string(FIND "${content}" ")embedded\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the raw-string delimiter )embedded\"")
endif()
get_filename_component(source_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${source_name} by cmake/embed_text.cmake; do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace ${NAMESPACE} {\n\n"
  "std::string_view ${NAME}() {\n"
  "  return R\"embedded(${content})embedded\";\n"
  "}\n\n"
  "}  // namespace ${NAMESPACE}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
