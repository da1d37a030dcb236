# The offline demo's files (data/demo: fixture manifest, answers, map tiles)
# embedded into veldra in a translation unit of their own, so that a page edit
# does not regenerate them and theirs does not regenerate the pages. The glob
# re-runs CMake when a file is added or removed; DEPENDS rebuilds on an edit.
set(VELDRA_DEMO_DIR ${PROJECT_SOURCE_DIR}/data/demo)
file(GLOB_RECURSE _demo_files CONFIGURE_DEPENDS LIST_DIRECTORIES false RELATIVE ${VELDRA_DEMO_DIR} ${VELDRA_DEMO_DIR}/*)
list(SORT _demo_files)
set(_demo_args "")
set(_demo_inputs "")
set(_id 0)
foreach(f ${_demo_files})
  list(APPEND _demo_args ${_id} ${f} ${VELDRA_DEMO_DIR}/${f})
  list(APPEND _demo_inputs ${VELDRA_DEMO_DIR}/${f})
  math(EXPR _id "${_id} + 1")
endforeach()

set(_demo_out ${CMAKE_CURRENT_BINARY_DIR}/demo_resources.cpp)
add_custom_command(OUTPUT ${_demo_out}
  COMMAND veldra_embedgen --table demoFiles ${_demo_out} ${_demo_args}
  DEPENDS veldra_embedgen ${_demo_inputs}
  COMMENT "Embedding the demo's files"
  VERBATIM)
target_sources(veldra PRIVATE ${_demo_out})
