#include "terrain/ElevationGrid.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "unit/TestSupport.h"

// Largest single allocation since the last reset (largest_alloc.cpp).
extern std::atomic<std::size_t> gLargestAlloc;

namespace veldra {
namespace {

std::string header(const std::string& ncols, const std::string& nrows, const std::string& x = "xllcorner 1000",
                   const std::string& y = "yllcorner 2000", const std::string& cell = "cellsize 2",
                   const std::string& nodata = "nodata_value -9999") {
  return "ncols " + ncols + "\nnrows " + nrows + "\n" + x + "\n" + y + "\n" + cell + "\n" + nodata + "\n";
}

ElevationGrid mustParse(const std::string& text) {
  ElevationGrid g;
  std::string err;
  EXPECT_TRUE(parseAsciiGrid(text, g, &err)) << err;
  return g;
}

bool parses(const std::string& text) {
  ElevationGrid g;
  return parseAsciiGrid(text, g);
}

// The half-cell shift of centre registration is held to GDAL's reading in the interop sampling test;
// here a cell size given after the origin, in keywords of any case.
TEST(AsciiGridHeader, CentreShiftIsAppliedOnceTheHeaderIsComplete) {
  const auto late = mustParse("NCOLS 1\nNRows 1\nXllCenter 10\nyllcorner 20\nNODATA_value 0\nCellSize 4\n7");
  EXPECT_DOUBLE_EQ(late.x0, 8.0);
  EXPECT_DOUBLE_EQ(late.y0, 20.0);
}

// Empty and short headers, unknown keywords, zero or fractional counts, zero cell sizes, short
// bodies and unreadable values are refused in the black-box bad-input test.
TEST(AsciiGridHeader, UnreadableOriginFailsAndTextAfterTheValuesIsNotRead) {
  EXPECT_FALSE(parses(header("1", "1", "xllcorner abc") + "5"));
  EXPECT_TRUE(parses(header("2", "1") + "1 2 trailing text is never read"));
}

TEST(AsciiGridHeader, OversizedOrShortSheetsFailWithoutAllocating) {
  std::string err;
  ElevationGrid g;
  for (const auto& [nc, nr] : std::vector<std::pair<std::string, std::string>>{
           {"20000", "20000"},            // allowed size, but the body is far too short
           {"20001", "20000"},            // over the cell limit
           {"2147483647", "2147483647"},  // product overflows 32 bits
           {"1e300", "5"},                // not an int at all
       }) {
    gLargestAlloc = 0;
    EXPECT_FALSE(parseAsciiGrid(header(nc, nr) + "1 2 3 4 5 6 7 8\n", g, &err)) << nc << " x " << nr;
    EXPECT_LT(gLargestAlloc.load(), 1u << 16) << nc << " x " << nr << ": " << err;
  }
  // The probe does see the values array of a sheet that is read.
  gLargestAlloc = 0;
  std::string ones;
  for (int i = 0; i < 10000; ++i) ones += "1 ";
  EXPECT_TRUE(parses(header("100", "100") + ones));
  EXPECT_GE(gLargestAlloc.load(), 10000u * sizeof(double));
  // Exactly enough bytes for single-digit values is accepted.
  EXPECT_TRUE(parses(header("3", "2") + "1 2 3 4 5 6"));
  EXPECT_FALSE(parses(header("3", "2") + "1 2 3 4 56"));
}

TEST(AsciiGridValues, NumbersReadAsFormattedExtractionReadsThem) {
  // Our tokeniser must give bit-identical values and the same failures as operator>>.
  std::vector<std::string> texts = {"0",     "-0",     "+1.5",   "-.5",    "1.",       "007",   "1e2",
                                    "1E-2",  "2.5e+3", "1e-400", "123.45", "-9999",    "1.5-2", "3.25.5",
                                    "0x10",  "1e",     "1e+",    "+",      "-",        ".",     "nan",
                                    "inf",   "1,5",    "12a",    "1e400",  "-1e400",   "4.9406564584124654e-324"};
  std::mt19937_64 rng(7);
  for (int i = 0; i < 3000; ++i) {
    std::ostringstream s;
    s.precision(1 + static_cast<int>(rng() % 17));
    const double mag = std::pow(10.0, static_cast<int>(rng() % 40) - 20);
    s << (static_cast<double>(rng() % 2000000) / 1000.0 - 1000.0) * mag;
    texts.push_back(s.str());
  }
  for (const auto& t : texts) {
    std::istringstream in(t + " 7");
    in.imbue(std::locale::classic());
    double a = 0, b = 0;
    const bool streamOk = static_cast<bool>(in >> a >> b);
    ElevationGrid g;
    const bool ours = parseAsciiGrid(header("2", "1") + t + " 7", g);
    EXPECT_EQ(ours, streamOk) << "'" << t << "'";
    if (ours && streamOk) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(g.values[0]), std::bit_cast<std::uint64_t>(a)) << "'" << t << "'";
      EXPECT_EQ(g.values[1], b) << "'" << t << "'";
    }
  }
}

TEST(AsciiGridFile, ChunkedFileReadingMatchesInMemoryParsing) {
  // Several MB so that tokens straddle the reader's chunk boundaries.
  std::string text = header("1500", "1000");
  std::mt19937 rng(3);
  for (int r = 0; r < 1000; ++r) {
    for (int c = 0; c < 1500; ++c) {
      text += std::to_string(100 + static_cast<int>(rng() % 50000)) + "." + std::to_string(rng() % 1000);
      text += (c % 7 == 0) ? "\t " : " ";
    }
    text += "\r\n";
  }
  testing::TempDir tmp;
  const auto path = tmp.path() / "sheet.asc";
  { std::ofstream(path, std::ios::binary) << text; }
  ElevationGrid fromFile;
  std::string err;
  ASSERT_TRUE(readAsciiGrid(path, fromFile, &err)) << err;
  const ElevationGrid fromMemory = mustParse(text);
  EXPECT_EQ(fromFile.values, fromMemory.values);

  // The same file cut short fails.
  std::filesystem::resize_file(path, text.size() - 20000);
  EXPECT_FALSE(readAsciiGrid(path, fromFile, &err));
  EXPECT_NE(err.find("data"), std::string::npos) << err;
  std::filesystem::remove(path);
  EXPECT_FALSE(readAsciiGrid(path, fromFile, &err));
  EXPECT_EQ(fromFile.values, fromMemory.values);  // failures leave the grid untouched
}

TEST(AsciiGridFile, LongTokensAndTheEndOfTheFile) {
  testing::TempDir tmp;
  const auto path = tmp.path() / "sheet.asc";
  ElevationGrid g;
  std::string err;
  // Leading zeros over several read chunks still make one number, as a stream reads it.
  { std::ofstream(path, std::ios::binary) << header("2", "1") << std::string(3u << 20, '0') << "1.5 7"; }
  ASSERT_TRUE(readAsciiGrid(path, g, &err)) << err;
  EXPECT_EQ(g.values, (std::vector<double>{1.5, 7.0}));
  // The last value may end the file without a line break.
  { std::ofstream(path, std::ios::binary) << header("2", "1") << "3 4"; }
  ASSERT_TRUE(readAsciiGrid(path, g, &err)) << err;
  EXPECT_EQ(g.values, (std::vector<double>{3.0, 4.0}));
  // A token past 16 MB is refused instead of buffered without end.
  { std::ofstream(path, std::ios::binary) << header("2", "1") << std::string(17u << 20, '0') << "1.5 7"; }
  EXPECT_FALSE(readAsciiGrid(path, g, &err));
}

// 3 x 2 grid, corner (0, 0), cell 10: south row 10 20 30, north row 40 50 60.
ElevationGrid smallGrid(const std::string& north = "40 50 60", const std::string& south = "10 20 30") {
  return mustParse(header("3", "2", "xllcorner 0", "yllcorner 0", "cellsize 10") + north + "\n" + south);
}

// Which edges belong to the grid is held to GDAL's reading in the interop sampling test.
TEST(SampleGrid, UnusablePoints) {
  const auto g = smallGrid();
  EXPECT_FALSE(sampleGrid(g, std::nan(""), 5).has_value());
  EXPECT_FALSE(sampleGrid(g, 1e300, -1e300).has_value());
  EXPECT_FALSE(sampleGrid(ElevationGrid{}, 0, 0).has_value());
}

TEST(SampleGrid, FirstGridWithAHeightWins) {
  std::vector<ElevationGrid> grids{smallGrid("1 -9999 1", "1 1 1"), smallGrid("2 2 2", "2 2 2")};
  grids[1].x0 = 20;  // overlaps the first from x = 20 to 30
  const auto sampler = makeGridSampler(grids);
  EXPECT_DOUBLE_EQ(*sampler(25, 5), 1.0);
  EXPECT_DOUBLE_EQ(*sampler(45, 5), 2.0);
  EXPECT_FALSE(sampler(15, 15).has_value());  // NODATA in the first, outside the second
  EXPECT_DOUBLE_EQ(*sampler(25, 15), 1.0);
  EXPECT_FALSE(sampler(60, 5).has_value());
}

}  // namespace
}  // namespace veldra
