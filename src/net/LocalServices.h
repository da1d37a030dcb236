// Service addresses kept on this computer for offices whose services the
// compiled directories do not know yet (or know wrongly): a tab-separated file
// "services.tsv" in the program's roaming folder, one row per office:
//
//   # comment
//   gesut   1816     https://example.gov.pl/wms   https://example.gov.pl/wfs
//
// Columns: directory (egib, bdot500, gesut or mpzp), TERYT key (4 digits for
// the county directories, 6 for mpzp), WMS address, WFS address; "-" or an
// empty cell means none. A row stands for the office as a whole: it replaces
// the compiled row of the same directory and key.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "net/ServiceDirectory.h"

namespace veldra {

enum class ServiceKind { Egib, Bdot500, Gesut, Plans };

struct LocalServiceRow {
  ServiceKind kind = ServiceKind::Egib;
  std::string key;
  std::string wms;
  std::string wfs;
};

struct LocalServiceFile {
  std::vector<LocalServiceRow> rows;    // in file order; a later row of the same key wins
  std::vector<std::string> problems;    // one line per refused row: "services.tsv, wiersz N: ..."
};

// Rows of the text; refused rows are named in `problems` and left out.
LocalServiceFile parseLocalServices(std::string_view text);

// roamingDataDir()/"VELDRA"/"services.tsv".
std::filesystem::path localServicesPath();

// The file of this computer; an absent file gives no rows and no problems.
// Files over 1 MiB are refused with one problem line.
LocalServiceFile loadLocalServices();

// The local row of the directory for the first 4 (6 for mpzp) characters of
// `code` when there is one, else the compiled directory's answer.
ServiceAddresses findService(const LocalServiceFile& local, ServiceKind kind, std::string_view code);

}  // namespace veldra
