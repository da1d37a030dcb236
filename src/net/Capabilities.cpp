#include "net/Capabilities.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <utility>

#include <pugixml.hpp>

namespace veldra {

namespace {

std::string_view localName(const char* qname) {
  std::string_view q(qname);
  auto colon = q.rfind(':');
  return colon == std::string_view::npos ? q : q.substr(colon + 1);
}

std::string trimmed(std::string_view s) {
  auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && ws(s.front())) s.remove_prefix(1);
  while (!s.empty() && ws(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// All text directly inside the element (CDATA included), trimmed.
std::string textOf(const pugi::xml_node& n) {
  std::string out;
  for (auto c = n.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) out += c.value();
  }
  return trimmed(out);
}

void addUnique(std::vector<std::string>& list, std::string v) {
  if (v.empty()) return;
  if (std::find(list.begin(), list.end(), v) == list.end()) list.push_back(std::move(v));
}

// WMS 1.1 writes several systems in one SRS element, separated by blanks.
void addSystems(std::vector<std::string>& list, const std::string& text) {
  std::size_t p = 0;
  while (p < text.size()) {
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t' || text[p] == '\r' || text[p] == '\n')) ++p;
    std::size_t e = p;
    while (e < text.size() && !(text[e] == ' ' || text[e] == '\t' || text[e] == '\r' || text[e] == '\n')) ++e;
    if (e > p) addUnique(list, text.substr(p, e - p));
    p = e;
  }
}

// A scale denominator, or 0 when the text is no positive finite number.
double scaleValue(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v <= 0) return 0;
  return v;
}

bool isSystemElement(std::string_view ln) {
  return ln == "CRS" || ln == "SRS" || ln == "DefaultCRS" || ln == "DefaultSRS" || ln == "OtherCRS" ||
         ln == "OtherSRS";
}

CapabilitiesLayer featureType(const pugi::xml_node& ft) {
  CapabilitiesLayer l;
  for (auto c = ft.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    std::string_view ln = localName(c.name());
    if (ln == "Name" && l.name.empty()) {
      l.name = textOf(c);
    } else if (ln == "Title" && l.title.empty()) {
      l.title = textOf(c);
    } else if (isSystemElement(ln)) {
      addSystems(l.crs, textOf(c));
    }
  }
  return l;
}

}  // namespace

Capabilities readCapabilities(std::string_view text) {
  Capabilities caps;
  pugi::xml_document doc;
  pugi::xml_parse_result res = doc.load_buffer(text.data(), text.size(), pugi::parse_default);
  if (!res) {
    caps.kind = Capabilities::Kind::XmlError;
    caps.message = std::string(res.description()) + " (offset " + std::to_string(res.offset) + ")";
    return caps;
  }
  pugi::xml_node root = doc.document_element();
  std::string_view rootName = localName(root.name());
  if (rootName == "WFS_Capabilities") {
    caps.kind = Capabilities::Kind::Wfs;
  } else if (rootName == "WMS_Capabilities" || rootName == "WMT_MS_Capabilities") {
    caps.kind = Capabilities::Kind::Wms;
  } else if (rootName == "ExceptionReport" || rootName == "ServiceExceptionReport") {
    caps.kind = Capabilities::Kind::ExceptionReport;
  } else {
    return caps;
  }
  caps.version = root.attribute("version").value();

  // Depth-first in document order without recursion; WMS layers inherit the
  // systems of the layers that enclose them.
  using Systems = std::shared_ptr<const std::vector<std::string>>;
  struct Scales {
    double min = 0;
    double max = 0;
  };
  struct Frame {
    pugi::xml_node node;
    int depth;
    Systems inherited;
    Scales scales;
  };
  std::vector<Frame> stack{{root, 0, std::make_shared<const std::vector<std::string>>(), {}}};
  while (!stack.empty()) {
    Frame f = std::move(stack.back());
    stack.pop_back();
    std::string_view ln = localName(f.node.name());
    Systems forChildren = f.inherited;
    Scales scalesForChildren = f.scales;

    if (caps.kind == Capabilities::Kind::Wfs && ln == "FeatureType") {
      caps.layers.push_back(featureType(f.node));
      continue;
    }
    if (caps.kind == Capabilities::Kind::ExceptionReport && (ln == "ExceptionText" || ln == "ServiceException")) {
      std::string t = textOf(f.node);
      if (t.empty()) t = f.node.attribute("code").value();
      if (t.empty()) t = f.node.attribute("exceptionCode").value();
      if (!t.empty()) caps.message += (caps.message.empty() ? "" : "; ") + t;
    }
    if (caps.kind == Capabilities::Kind::Wms && ln == "Layer") {
      auto own = std::make_shared<std::vector<std::string>>(*f.inherited);
      CapabilitiesLayer layer;
      Scales scales = f.scales;
      for (auto c = f.node.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) continue;
        std::string_view cn = localName(c.name());
        if (cn == "CRS" || cn == "SRS") {
          addSystems(*own, textOf(c));
        } else if (cn == "MinScaleDenominator") {
          scales.min = scaleValue(textOf(c));
        } else if (cn == "MaxScaleDenominator") {
          scales.max = scaleValue(textOf(c));
        } else if (cn == "Name" && layer.name.empty()) {
          layer.name = textOf(c);
        } else if (cn == "Title" && layer.title.empty()) {
          layer.title = textOf(c);
        }
      }
      layer.minScale = scales.min;
      layer.maxScale = scales.max;
      scalesForChildren = scales;
      if (!layer.name.empty()) {
        layer.crs = *own;
        caps.layers.push_back(std::move(layer));
      }
      forChildren = std::move(own);
    }

    if (f.depth + 1 > kCapabilitiesMaxDepth) continue;
    // Children pushed last-first so that they are visited in document order.
    std::vector<pugi::xml_node> children;
    for (auto c = f.node.first_child(); c; c = c.next_sibling()) {
      if (c.type() == pugi::node_element) children.push_back(c);
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, f.depth + 1, forChildren, scalesForChildren});
  }
  return caps;
}

bool drawsAtScale(const CapabilitiesLayer& layer, double scale) {
  constexpr double kSlack = 1e-6;
  if (layer.minScale > 0 && scale < layer.minScale * (1 - kSlack)) return false;
  if (layer.maxScale > 0 && scale > layer.maxScale * (1 + kSlack)) return false;
  return true;
}

const CapabilitiesLayer* findLayer(const Capabilities& caps, std::string_view name) {
  for (const auto& l : caps.layers) {
    if (l.name == name) return &l;
  }
  return nullptr;
}

}  // namespace veldra
