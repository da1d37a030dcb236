// Capabilities on arbitrary bytes: the XML reader, every text scan the import
// runs over capabilities, and the merging of tile answers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/Capabilities.h"
#include "net/OgcClient.h"
#include "net/ServiceDirectory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  veldra::Capabilities caps = veldra::readCapabilities(text);
  for (const auto& l : caps.layers) {
    if (veldra::findLayer(caps, l.name) == nullptr) __builtin_trap();
  }
  veldra::LayerPair pair = veldra::scanLayerPair(text);
  if (pair.parcels.find(' ') != std::string::npos || pair.buildings.find('/') != std::string::npos) __builtin_trap();
  for (const auto& n : veldra::capabilityNames(text)) {
    if (n.find('\n') != std::string::npos) __builtin_trap();
  }
  (void)veldra::gesutWfsTypes(text);
  (void)veldra::wmsLayerChoice(text, veldra::DataType::Gesut);
  (void)veldra::wmsLayerChoice(text, veldra::DataType::Bdot500);
  (void)veldra::chooseBoundariesLayer(text);
  (void)veldra::isOgcExceptionReport(text);

  // Tile merging: the input split in two, each half offered after the whole.
  veldra::FeatureCollectionMerger merger;
  merger.add(std::string(text));
  merger.add(std::string(text.substr(0, size / 2)));
  merger.add(std::string(text.substr(size / 2)));
  std::string merged = merger.take();
  if (merged.size() > 3 * size) __builtin_trap();
  return 0;
}
