# Page files and map libraries embedded into the veldra executable as numbered
# resources (id, file name, source). The map libraries and three come from npm (web/).
set(VELDRA_WEB_DIR ${PROJECT_SOURCE_DIR}/web)
set(VELDRA_WEB_NODE ${VELDRA_WEB_DIR}/node_modules)
set(VELDRA_WEB_RESOURCES
  100 map.html              ${VELDRA_WEB_DIR}/map.html
  101 map.js                ${VELDRA_WEB_DIR}/map.js
  102 map.css               ${VELDRA_WEB_DIR}/map.css
  103 gisbridge.js          ${VELDRA_WEB_DIR}/gisbridge.js
  110 leaflet.js            ${VELDRA_WEB_NODE}/leaflet/dist/leaflet.js
  111 leaflet.css           ${VELDRA_WEB_NODE}/leaflet/dist/leaflet.css
  112 maplibre-gl.js        ${VELDRA_WEB_NODE}/maplibre-gl/dist/maplibre-gl.js
  113 maplibre-gl.css       ${VELDRA_WEB_NODE}/maplibre-gl/dist/maplibre-gl.css
  114 leaflet-maplibre-gl.js ${VELDRA_WEB_NODE}/@maplibre/maplibre-gl-leaflet/leaflet-maplibre-gl.js
  120 three/build/three.module.js ${VELDRA_WEB_NODE}/three/build/three.module.js
  121 three/build/three.core.js ${VELDRA_WEB_NODE}/three/build/three.core.js
  122 three/examples/jsm/loaders/GLTFLoader.js ${VELDRA_WEB_NODE}/three/examples/jsm/loaders/GLTFLoader.js
  123 three/examples/jsm/utils/BufferGeometryUtils.js ${VELDRA_WEB_NODE}/three/examples/jsm/utils/BufferGeometryUtils.js
  124 three/examples/jsm/utils/SkeletonUtils.js ${VELDRA_WEB_NODE}/three/examples/jsm/utils/SkeletonUtils.js
  125 three/examples/jsm/controls/OrbitControls.js ${VELDRA_WEB_NODE}/three/examples/jsm/controls/OrbitControls.js
  190 transport.js          ${VELDRA_WEB_DIR}/transport.js
  200 cloud.html            ${VELDRA_WEB_DIR}/cloud.html
  201 cloud.js              ${VELDRA_WEB_DIR}/cloud.js
  202 cloud.css             ${VELDRA_WEB_DIR}/cloud.css
  # The stand-in host window has no numbers of its own in the add-on; 300 up keeps it clear of the palettes'.
  300 host.html             ${VELDRA_WEB_DIR}/host.html
  301 host.js               ${VELDRA_WEB_DIR}/host.js
  302 host.css              ${VELDRA_WEB_DIR}/host.css
  303 selection.js          ${VELDRA_WEB_DIR}/selection.js
  304 planview.js           ${VELDRA_WEB_DIR}/planview.js
  305 view3d.js             ${VELDRA_WEB_DIR}/view3d.js
)

add_executable(veldra_embedgen ${PROJECT_SOURCE_DIR}/tools/embedgen.cpp)
target_link_libraries(veldra_embedgen PRIVATE veldra_flags)

set(_web_inputs "")
set(_web_missing "")
list(LENGTH VELDRA_WEB_RESOURCES _n)
math(EXPR _last "${_n} - 1")
foreach(i RANGE 2 ${_last} 3)
  list(GET VELDRA_WEB_RESOURCES ${i} _path)
  if(EXISTS ${_path})
    list(APPEND _web_inputs ${_path})
  else()
    list(APPEND _web_missing ${_path})
  endif()
endforeach()
if(_web_missing)
  # Configure still succeeds (other targets build); embedgen stops the veldra
  # build with the reason.
  message(WARNING "web files missing (run scripts/install-node-deps.sh for web/node_modules): ${_web_missing}")
endif()

set(_web_out ${CMAKE_CURRENT_BINARY_DIR}/web_resources.cpp)
add_custom_command(OUTPUT ${_web_out}
  COMMAND veldra_embedgen ${_web_out} ${VELDRA_WEB_RESOURCES}
  DEPENDS veldra_embedgen ${_web_inputs}
  COMMENT "Embedding web resources"
  VERBATIM)
target_sources(veldra PRIVATE ${_web_out})
