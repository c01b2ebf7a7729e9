// Printer DCs print to files here (never to a real printer): pages drawn with
// GDI come out as PDF pages of the paper's size, checked with qpdf and
// poppler; abort and failure paths leave existing files alone.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "platform/Printers.h"

namespace {

TDevMode Mode(int16_t paper, int16_t orientation, int16_t quality) {
  TDevMode m;
  m.dmSize = sizeof(TDevMode);
  m.dmPaperSize = paper;
  m.dmOrientation = orientation;
  m.dmPrintQuality = quality;
  return m;
}

void FillBox(HDC dc, int left, int top, int right, int bottom, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  RECT r{left, top, right, bottom};
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

// "W x H pts" of page n, from pdfinfo.
std::string PageSize(const std::string& pdf, int page) {
  auto r = pvltest::RunCommand({"pdfinfo", "-f", std::to_string(page), "-l", std::to_string(page), pdf});
  size_t at = r.out.find("size:");
  if (at == std::string::npos) return "";
  size_t start = r.out.find_first_not_of(' ', at + 5);
  return r.out.substr(start, r.out.find(" pts", start) + 4 - start);
}

// Colour at (x, y) of page 1 rendered at 72 dpi, as "r g b".
std::string PixelAt(const std::string& pdf, int page, int x, int y) {
  auto r = pvltest::RunCommand({"pdftoppm", "-r", "72", "-f", std::to_string(page), "-l", std::to_string(page), "-x",
                                std::to_string(x), "-y", std::to_string(y), "-W", "1", "-H", "1", pdf});
  const std::string& ppm = r.out;
  if (ppm.size() < 3) return "";
  const size_t at = ppm.size() - 3;
  return std::to_string(uint8_t(ppm[at])) + " " + std::to_string(uint8_t(ppm[at + 1])) + " " +
         std::to_string(uint8_t(ppm[at + 2]));
}

}  // namespace

TEST(Printers, PagesPrintToAFileOfThePapersSize) {
  if (!pvltest::HaveTool("pdfinfo") || !pvltest::HaveTool("pdftoppm") || !pvltest::HaveTool("qpdf")) GTEST_SKIP();
  pvltest::TempDir dir;
  const std::string out = dir.File("job.pdf");
  const TDevMode a4 = Mode(DMPAPER_A4, DMORIENT_PORTRAIT, 72);
  HDC dc = CreateDCA("", "Test printer", "", &a4);
  ASSERT_NE(dc, nullptr);
  EXPECT_TRUE(IsPrinterDC(dc));
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 72);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 595);
  EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 842);
  const std::u16string title = u"Two pages", output(out.begin(), out.end());
  DOCINFOW info;
  info.lpszDocName = title.c_str();
  info.lpszOutput = output.c_str();
  const int job = StartDocW(dc, &info);
  EXPECT_GT(job, 0);
  EXPECT_EQ(StartDocW(dc, &info), SP_ERROR);  // one document at a time
  ASSERT_GT(StartPage(dc), 0);
  FillBox(dc, 100, 100, 200, 200, 0x0000FF);  // red (0x00BBGGRR)
  ASSERT_GT(EndPage(dc), 0);
  EXPECT_FALSE(std::filesystem::exists(out));  // the file appears whole, at the end
  ASSERT_GT(StartPage(dc), 0);
  FillBox(dc, 300, 500, 400, 600, 0xFF0000);  // blue; the page started white again
  ASSERT_GT(EndPage(dc), 0);
  ASSERT_GT(EndDoc(dc), 0);
  EXPECT_EQ(EndDoc(dc), SP_ERROR);
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_FALSE(IsPrinterDC(dc));

  auto check = pvltest::RunCommand({"qpdf", "--check", out});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  auto info2 = pvltest::RunCommand({"pdfinfo", out});
  EXPECT_NE(info2.out.find("Pages:           2"), std::string::npos) << info2.out;
  EXPECT_NE(info2.out.find("Two pages"), std::string::npos);
  EXPECT_EQ(PageSize(out, 1), "595.276 x 841.89 pts");
  EXPECT_EQ(PixelAt(out, 1, 150, 150), "255 0 0");
  EXPECT_EQ(PixelAt(out, 1, 350, 550), "255 255 255");
  EXPECT_EQ(PixelAt(out, 2, 350, 550), "0 0 255");
  EXPECT_EQ(PixelAt(out, 2, 150, 150), "255 255 255");
}

TEST(Printers, PaperOrientationAndResolution) {
  struct Case {
    int16_t paper, orientation, quality;
    int width, height, dpi;
  };
  const Case cases[] = {
      {DMPAPER_LETTER, DMORIENT_PORTRAIT, 100, 850, 1100, 100},
      {DMPAPER_A4, DMORIENT_LANDSCAPE, 72, 842, 595, 72},
      {DMPAPER_A5, DMORIENT_PORTRAIT, DMRES_DRAFT, 559, 794, 96},
      {DMPAPER_A4, DMORIENT_PORTRAIT, DMRES_LOW, 1240, 1754, 150},
      {9999, DMORIENT_PORTRAIT, 5000, 2480, 3508, 300},  // unknown paper: A4; absurd quality: 300 dpi
  };
  for (const Case& c : cases) {
    TDevMode m = Mode(c.paper, c.orientation, c.quality);
    HDC dc = CreateDCA(nullptr, "P", nullptr, &m);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), c.width) << c.paper;
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), c.height) << c.paper;
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), c.dpi);
    DeleteDC(dc);
  }
  // Paper length and width in tenths of a millimetre, when their fields are set.
  TDevMode custom = Mode(DMPAPER_A4, DMORIENT_PORTRAIT, 254);
  custom.dmFields = DM_PAPERLENGTH | DM_PAPERWIDTH;
  custom.dmPaperWidth = 1000;
  custom.dmPaperLength = 500;
  HDC dc = CreateDCA(nullptr, "P", nullptr, &custom);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 1000);
  EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 500);
  DeleteDC(dc);
  // Other DCs answer for a 96-dpi screen.
  TBitmap bmp(4, 4);
  HDC screen = CreateBitmapDC(bmp);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  EXPECT_FALSE(IsPrinterDC(screen));
  DeleteDC(screen);
}

int StopAtOnce(HDC, int) {
  return 0;
}

TEST(Printers, AbortedAndFailedJobsLeaveExistingFilesAlone) {
  pvltest::TempDir dir;
  const std::string out = dir.File("keep.pdf");
  pvltest::WriteFile(out, "original");
  const TDevMode mode = Mode(DMPAPER_A5, DMORIENT_PORTRAIT, 72);
  const std::u16string output(out.begin(), out.end());
  DOCINFOW info;
  info.lpszOutput = output.c_str();

  HDC dc = CreateDCA(nullptr, "P", nullptr, &mode);
  ASSERT_GT(StartDocW(dc, &info), 0);
  ASSERT_GT(StartPage(dc), 0);
  ASSERT_GT(AbortDoc(dc), 0);
  EXPECT_EQ(EndDoc(dc), SP_ERROR);
  DeleteDC(dc);
  EXPECT_EQ(pvltest::ReadFile(out), "original");

  dc = CreateDCA(nullptr, "P", nullptr, &mode);
  SetAbortProc(dc, StopAtOnce);
  ASSERT_GT(StartDocW(dc, &info), 0);
  EXPECT_EQ(StartPage(dc), SP_ERROR);
  EXPECT_EQ(EndDoc(dc), SP_ERROR);
  DeleteDC(dc);
  EXPECT_EQ(pvltest::ReadFile(out), "original");

  // A document left open when its DC goes is dropped with its temporary file.
  dc = CreateDCA(nullptr, "P", nullptr, &mode);
  ASSERT_GT(StartDocW(dc, &info), 0);
  DeleteDC(dc);
  EXPECT_EQ(pvltest::ReadFile(out), "original");
  size_t files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path())) ++files;
  EXPECT_EQ(files, 1u);

  // A folder that does not exist: the document cannot start.
  const std::u16string nowhere = u"/nonexistent-folder/x.pdf";
  info.lpszOutput = nowhere.c_str();
  dc = CreateDCA(nullptr, "P", nullptr, &mode);
  EXPECT_EQ(StartDocW(dc, &info), SP_ERROR);
  DeleteDC(dc);
}

TEST(Printers, UnknownPrintersAndTheSpooler) {
  // No job goes to a printer the scheduler does not know (or without a scheduler).
  const TDevMode mode = Mode(DMPAPER_A5, DMORIENT_PORTRAIT, 72);
  HDC dc = CreateDCA(nullptr, "No such printer 42", nullptr, &mode);
  DOCINFOW spooled;
  EXPECT_EQ(StartDocW(dc, &spooled), SP_ERROR);
  DeleteDC(dc);
  HANDLE handle = nullptr;
  EXPECT_FALSE(OpenPrinterA("No such printer 42", &handle, PRINTER_ACCESS_USE));
  EXPECT_EQ(handle, nullptr);
  EXPECT_FALSE(OpenPrinterA("", &handle, PRINTER_ACCESS_USE));
  JOB_INFO_1 info;
  EXPECT_FALSE(GetJobA(nullptr, 1, info));
  EXPECT_FALSE(SetJobA(nullptr, 1, JOB_CONTROL_PAUSE));
  EXPECT_FALSE(ClosePrinter(nullptr));
  // Calls on DCs that are not printer DCs fail.
  EXPECT_EQ(StartPage(nullptr), SP_ERROR);
  EXPECT_EQ(EndPage(nullptr), SP_ERROR);
  EXPECT_EQ(AbortDoc(nullptr), SP_ERROR);
}

TEST(Printers, ClassLibraryPrinter) {
  TPrinter printer;
  // A device the scheduler does not know can be named; its device mode of the
  // wrong size is replaced by defaults.
  TDevModeBytes tooShort(10, 0);
  printer.SetPrinter("File printer", "drv", "port", &tooShort);
  std::string device, driver, port;
  TDevModeBytes* mode = nullptr;
  printer.GetPrinter(device, driver, port, mode);
  EXPECT_EQ(device, "File printer");
  ASSERT_NE(mode, nullptr);
  ASSERT_NE(DevModeOf(*mode), nullptr);
  EXPECT_EQ(DevModeOf(*mode)->dmSize, sizeof(TDevMode));
  EXPECT_STREQ(DevModeOf(*mode)->dmDeviceName, "File printer");
  EXPECT_EQ(printer.PageWidth(), 2480);  // A4 at 300 dpi
  EXPECT_EQ(printer.Canvas().FontPixelsPerInch, 300);
  EXPECT_NE(printer.Canvas().Handle(), nullptr);
  // A device mode of the right size is taken.
  TDevModeBytes a5 = MakeDevMode("File printer");
  DevModeOf(a5)->dmPaperSize = DMPAPER_A5;
  DevModeOf(a5)->dmPrintQuality = 100;
  printer.SetPrinter("File printer", "drv", "port", &a5);
  EXPECT_EQ(printer.PageWidth(), 583);
  // Spooling to it cannot start: an error, and the printer is not printing.
  printer.Title = "T";
  EXPECT_THROW(printer.BeginDoc(), EPrinterError);
  EXPECT_FALSE(printer.Printing());
  EXPECT_THROW(printer.NewPage(), EPrinterError);
  EXPECT_THROW(printer.EndDoc(), EPrinterError);
  EXPECT_THROW(printer.SetPrinterIndex(static_cast<int>(printer.Printers().size())), EPrinterError);
}
