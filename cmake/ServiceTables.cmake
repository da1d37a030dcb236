# The county and municipal service directories are data files compiled into
# veldra_net: data/services/*.tsv -> <build>/generated/net/ServiceTables.cpp.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(_svc_data ${PROJECT_SOURCE_DIR}/data/services)
set(_svc_gen ${PROJECT_SOURCE_DIR}/scripts/gen-service-tables.py)
set(_svc_out ${PROJECT_BINARY_DIR}/generated/net/ServiceTables.cpp)
set(_svc_inputs
  ${_svc_data}/county_egib.tsv
  ${_svc_data}/county_bdot500.tsv
  ${_svc_data}/county_gesut.tsv
  ${_svc_data}/municipal_plans.tsv)

add_custom_command(
  OUTPUT ${_svc_out}
  COMMAND Python3::Interpreter ${_svc_gen} --data ${_svc_data} --out ${_svc_out}
  DEPENDS ${_svc_gen} ${_svc_inputs}
  COMMENT "Compiling the service directories"
  VERBATIM)

target_sources(veldra_net PRIVATE ${_svc_out})
