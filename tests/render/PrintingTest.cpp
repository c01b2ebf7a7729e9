// The printer wrapper printing to a file with its own DC, printer options
// written into the device mode, stored device modes, and job control without
// a job to control.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "render/PavonaPrinting.h"

namespace {

const TDevMode& ModeOf(TPrinter& printer) {
  std::string device, driver, port;
  TDevModeBytes* bytes = nullptr;
  printer.GetPrinter(device, driver, port, bytes);
  return *DevModeOf(*bytes);
}

}  // namespace

TEST(PVLPrinter, OwnDCPrintsToTheOutputFile) {
  if (!pvltest::HaveTool("pdfinfo") || !pvltest::HaveTool("qpdf")) GTEST_SKIP();
  pvltest::TempDir dir;
  const std::string out = dir.File("printed.pdf");
  TPrinter printer;
  printer.SetPrinter("File printer", "", "", nullptr);
  TPrinterOptions options;
  options.PrintQuality = 4;  // draft: 96 dpi
  options.Orientation = DMORIENT_LANDSCAPE;
  ApplyPrinterOptions(options, printer);
  {
    TPVLPrinter pvl(&printer, true, std::u16string(out.begin(), out.end()));
    EXPECT_EQ(CurrentPVLPrinter(), &pvl);
    pvl.SetTitle("Wrapper \xC3\xA9t\xC3\xA9");  // UTF-8 title
    ASSERT_NE(pvl.GetCanvas(), nullptr);
    EXPECT_EQ(pvl.GetCanvas()->FontPixelsPerInch, 96);
    pvl.BeginDoc();
    EXPECT_GT(pvl.JobId, 0);
    EXPECT_EQ(pvl.DeviceName, "File printer");
    HDC dc = pvl.GetHandle();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(pvl.GetCanvas()->Handle(), dc);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 1123);  // A4 landscape at 96 dpi
    pvl.NewPage();
    pvl.NewPage();
    pvl.EndDoc();
  }
  EXPECT_EQ(CurrentPVLPrinter(), nullptr);
  auto info = pvltest::RunCommand({"pdfinfo", out});
  EXPECT_NE(info.out.find("Pages:           3"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("841.89 x 595.276 pts"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Wrapper \xC3\xA9t\xC3\xA9"), std::string::npos) << info.out;
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", out}).exitCode, 0);
}

TEST(PVLPrinter, WithoutAPrinterNothingHappens) {
  TPVLPrinter pvl(nullptr, true, u"");
  pvl.BeginDoc();
  pvl.NewPage();
  pvl.EndDoc();
  EXPECT_EQ(pvl.GetCanvas(), nullptr);
  EXPECT_EQ(pvl.GetHandle(), nullptr);
  EXPECT_EQ(pvl.GetPageWidth(), 0);
  EXPECT_FALSE(pvl.Aborted());
  EXPECT_EQ(pvl.GetTitle(), "");
}

TEST(PrinterOptions, OnlySetOptionsAreWritten) {
  TPrinter printer;
  printer.SetPrinter("File printer", "", "", nullptr);
  const TDevMode before = ModeOf(printer);
  TPrinterOptions none;
  ApplyPrinterOptions(none, printer);
  EXPECT_EQ(ModeOf(printer).dmCollate, before.dmCollate);
  EXPECT_EQ(ModeOf(printer).dmPrintQuality, before.dmPrintQuality);

  TPrinterOptions o;
  o.FieldMask = DM_COLLATE | DM_DUPLEX;
  o.PaperSize = DMPAPER_LETTER;
  o.Copies = 3;
  o.Collate = 0;       // 0 is written
  o.PrintQuality = 5;  // outside 1..4: unchanged
  o.Duplex = DMDUP_VERTICAL;
  o.Color = 0;            // unset
  o.PaperLength = 70000;  // does not fit the field: not written
  o.MediaType = 7;
  ApplyPrinterOptions(o, printer);
  const TDevMode& m = ModeOf(printer);
  EXPECT_EQ(m.dmFields & (DM_COLLATE | DM_DUPLEX), DM_COLLATE | DM_DUPLEX);
  EXPECT_EQ(m.dmPaperSize, DMPAPER_LETTER);
  EXPECT_EQ(m.dmCopies, 3);
  EXPECT_EQ(m.dmCollate, 0);
  EXPECT_EQ(m.dmPrintQuality, before.dmPrintQuality);
  EXPECT_EQ(m.dmDuplex, DMDUP_VERTICAL);
  EXPECT_EQ(m.dmColor, before.dmColor);
  EXPECT_EQ(m.dmPaperLength, before.dmPaperLength);
  EXPECT_EQ(m.dmMediaType, 7u);
  // The printer's next DC uses the changed mode: Letter at 300 dpi.
  EXPECT_EQ(printer.PageWidth(), 2550);
  const int16_t qualities[] = {DMRES_HIGH, DMRES_MEDIUM, DMRES_LOW, DMRES_DRAFT};
  for (int q = 1; q <= 4; ++q) {
    o.PrintQuality = q;
    ApplyPrinterOptions(o, printer);
    EXPECT_EQ(ModeOf(printer).dmPrintQuality, qualities[q - 1]);
  }
}

TEST(PrinterOptions, StoredDeviceModesOfTheRightLength) {
  TPrinter printer;
  printer.SetPrinter("File printer", "", "", nullptr);
  TDevModeBytes a5 = MakeDevMode("File printer");
  DevModeOf(a5)->dmPaperSize = DMPAPER_A5;
  SetPrinterDevMode(printer, std::string(a5.begin(), a5.end() - 1));  // one byte short: ignored
  EXPECT_EQ(ModeOf(printer).dmPaperSize, DMPAPER_A4);
  SetPrinterDevMode(printer, std::string(a5.begin(), a5.end()));
  EXPECT_EQ(ModeOf(printer).dmPaperSize, DMPAPER_A5);
}

TEST(PrinterOptions, JobControlWithoutAJob) {
  for (int code : {200, 201, 206, 207, 300, 301, 401, 403, 999}) {
    EXPECT_EQ(PrintJobControl(code, 1, ""), 0) << code;
    EXPECT_EQ(PrintJobControl(code, 1, "No such printer 42"), 0) << code;
  }
}
