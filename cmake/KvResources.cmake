# Resources embedded in the programs and read by name through LoadResource(name).
# Any folder registers one with kv_add_resource(NAME <name> FILE <path> [DEPENDS <target>]);
# resources/CMakeLists.txt turns the list into the kv_resources library.
define_property(GLOBAL PROPERTY KV_RESOURCE_NAMES BRIEF_DOCS "resource names" FULL_DOCS "resource names")
define_property(GLOBAL PROPERTY KV_RESOURCE_FILES BRIEF_DOCS "resource files" FULL_DOCS "resource files")
define_property(GLOBAL PROPERTY KV_RESOURCE_DEPENDS BRIEF_DOCS "resource producers" FULL_DOCS "resource producers")

function(kv_add_resource)
  cmake_parse_arguments(R "" "NAME;FILE" "DEPENDS" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY KV_RESOURCE_NAMES "${R_NAME}")
  set_property(GLOBAL APPEND PROPERTY KV_RESOURCE_FILES "${R_FILE}")
  if(R_DEPENDS)
    set_property(GLOBAL APPEND PROPERTY KV_RESOURCE_DEPENDS ${R_DEPENDS})
  endif()
endfunction()
