#include "cloud/las/LazDecoder.h"

namespace veldra::las {

std::unique_ptr<LazDecoder> LazDecoder::create(ByteSource&, const LasHeader&, const LaszipVlr&, std::string* error) {
  if (error) *error = "LASzip compressed point data is not supported yet";
  return nullptr;
}

}  // namespace veldra::las
