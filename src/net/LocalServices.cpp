#include "net/LocalServices.h"

#include <algorithm>
#include <system_error>

#include "platform/Paths.h"

namespace veldra {

namespace {

constexpr std::uintmax_t kMaxFileBytes = 1u << 20;

struct KindName {
  std::string_view name;
  ServiceKind kind;
  std::size_t keyLength;
};

constexpr KindName kKinds[] = {
    {"egib", ServiceKind::Egib, 4},
    {"bdot500", ServiceKind::Bdot500, 4},
    {"gesut", ServiceKind::Gesut, 4},
    {"mpzp", ServiceKind::Plans, 6},
};

const KindName* kindByName(std::string_view name) {
  for (const auto& k : kKinds)
    if (k.name == name) return &k;
  return nullptr;
}

std::size_t keyLength(ServiceKind kind) {
  for (const auto& k : kKinds)
    if (k.kind == kind) return k.keyLength;
  return 4;
}

ServiceDirectory compiled(ServiceKind kind) {
  switch (kind) {
    case ServiceKind::Egib: return countyEgibServices;
    case ServiceKind::Bdot500: return countyBdot500Services;
    case ServiceKind::Gesut: return countyGesutServices;
    case ServiceKind::Plans: return municipalPlanServices;
  }
  return {};
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> splitTabs(std::string_view line) {
  std::vector<std::string_view> cells;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    cells.push_back(trimBlanks(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start)));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return cells;
}

// An address is used as it stands with a query appended, so only plain
// http(s) URLs without blanks, quotes, backslashes or non-ASCII bytes pass.
bool plainUrl(std::string_view url) {
  const bool scheme = url.starts_with("http://") || url.starts_with("https://");
  if (!scheme || url.size() <= 8) return false;
  return std::all_of(url.begin(), url.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7f && c != '"' && c != '\'' && c != '\\' && c != '<' && c != '>';
  });
}

}  // namespace

LocalServiceFile parseLocalServices(std::string_view text) {
  LocalServiceFile out;
  std::size_t lineNo = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    const std::string_view content = trimBlanks(line);
    if (content.empty() || content.front() == '#') continue;

    auto refuse = [&](const std::string& why) {
      out.problems.push_back("services.tsv, wiersz " + std::to_string(lineNo) + ": " + why);
    };
    const std::vector<std::string_view> cells = splitTabs(line);
    if (cells.size() < 2 || cells.size() > 4) {
      refuse("oczekiwano 2 do 4 kolumn rozdzielonych tabulatorem");
      continue;
    }
    const KindName* kind = kindByName(cells[0]);
    if (kind == nullptr) {
      refuse("nieznany katalog (egib, bdot500, gesut, mpzp)");
      continue;
    }
    const std::string_view key = cells[1];
    if (key.size() != kind->keyLength ||
        !std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      refuse("kod TERYT musi miec " + std::to_string(kind->keyLength) + " cyfr");
      continue;
    }
    LocalServiceRow row;
    row.kind = kind->kind;
    row.key = std::string(key);
    bool ok = true;
    for (std::size_t i = 2; i < cells.size() && ok; ++i) {
      const std::string_view url = cells[i];
      if (url.empty() || url == "-") continue;
      if (!plainUrl(url)) {
        refuse("niepoprawny adres uslugi");
        ok = false;
        continue;
      }
      (i == 2 ? row.wms : row.wfs) = std::string(url);
    }
    if (ok) out.rows.push_back(std::move(row));
  }
  return out;
}

std::filesystem::path localServicesPath() { return platform::roamingDataDir() / "VELDRA" / "services.tsv"; }

LocalServiceFile loadLocalServices() {
  const std::filesystem::path path = localServicesPath();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxFileBytes) {
    LocalServiceFile refused;
    refused.problems.push_back("services.tsv: plik nieczytelny albo wiekszy niz 1 MB - pominiety");
    return refused;
  }
  std::string text;
  if (!platform::readWholeFile(path, text)) {
    LocalServiceFile refused;
    refused.problems.push_back("services.tsv: plik nieczytelny albo wiekszy niz 1 MB - pominiety");
    return refused;
  }
  return parseLocalServices(text);
}

ServiceAddresses findService(const LocalServiceFile& local, ServiceKind kind, std::string_view code) {
  const std::size_t length = keyLength(kind);
  if (code.size() >= length) {
    const std::string_view key = code.substr(0, length);
    for (auto it = local.rows.rbegin(); it != local.rows.rend(); ++it)
      if (it->kind == kind && it->key == key) return {it->wms, it->wfs};
  }
  return lookupService(compiled(kind), code, length);
}

}  // namespace veldra
