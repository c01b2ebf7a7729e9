// Printing: printer device contexts, print jobs and the spooler, on CUPS.
//
// A printer DC is a GDI memory DC over a page bitmap at the printer's
// resolution. Each finished page is placed into a cairo PDF document, which
// is either written to the job's output file ("print to file") or handed to
// the CUPS scheduler as the job's document. Job queries and commands go to
// the scheduler (nothing is found without one).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/Classes.h"
#include "platform/Gdi.h"

class EPrinterError : public Exception {
public:
  using Exception::Exception;
};

// ---------------------------------------------------------------------------
// Device modes

constexpr uint32_t DM_ORIENTATION = 0x1, DM_PAPERSIZE = 0x2, DM_PAPERLENGTH = 0x4, DM_PAPERWIDTH = 0x8, DM_SCALE = 0x10,
                   DM_COPIES = 0x100, DM_DEFAULTSOURCE = 0x200, DM_PRINTQUALITY = 0x400, DM_COLOR = 0x800,
                   DM_DUPLEX = 0x1000, DM_YRESOLUTION = 0x2000, DM_COLLATE = 0x8000, DM_MEDIATYPE = 0x2000000;
constexpr int16_t DMRES_DRAFT = -1, DMRES_LOW = -2, DMRES_MEDIUM = -3, DMRES_HIGH = -4;
constexpr int16_t DMORIENT_PORTRAIT = 1, DMORIENT_LANDSCAPE = 2;
constexpr int16_t DMPAPER_LETTER = 1, DMPAPER_LEGAL = 5, DMPAPER_A3 = 8, DMPAPER_A4 = 9, DMPAPER_A5 = 11;
constexpr int16_t DMCOLOR_MONOCHROME = 1, DMCOLOR_COLOR = 2;
constexpr int16_t DMDUP_SIMPLEX = 1, DMDUP_VERTICAL = 2, DMDUP_HORIZONTAL = 3;

// The device-mode fields printing reads and writes. A printer's device mode
// is handed out as bytes: this record, then dmDriverExtra driver bytes.
struct TDevMode {
  char dmDeviceName[32] = {};
  uint16_t dmSpecVersion = 0x0401;
  uint16_t dmDriverVersion = 0;
  uint16_t dmSize = 0;  // set to sizeof(TDevMode) by MakeDevMode
  uint16_t dmDriverExtra = 0;
  uint32_t dmFields = 0;
  int16_t dmOrientation = DMORIENT_PORTRAIT;
  int16_t dmPaperSize = DMPAPER_A4;
  int16_t dmPaperLength = 0;  // tenths of a millimetre
  int16_t dmPaperWidth = 0;
  int16_t dmScale = 100;
  int16_t dmCopies = 1;
  int16_t dmDefaultSource = 0;
  int16_t dmPrintQuality = 300;  // dots per inch, or a DMRES_ value
  int16_t dmColor = DMCOLOR_COLOR;
  int16_t dmDuplex = DMDUP_SIMPLEX;
  int16_t dmYResolution = 300;
  int16_t dmTTOption = 0;
  int16_t dmCollate = 0;
  int16_t dmReserved = 0;
  uint32_t dmMediaType = 0;
};
using TDevModeBytes = std::vector<uint8_t>;

// A fresh device mode for the named device (paper A4, portrait, 300 dpi).
TDevModeBytes MakeDevMode(const std::string& device);
// The record at the front of the bytes; nullptr when they are too short.
TDevMode* DevModeOf(TDevModeBytes& bytes);
const TDevMode* DevModeOf(const TDevModeBytes& bytes);

// ---------------------------------------------------------------------------
// Printer DCs and documents

struct DOCINFOW {
  int cbSize = 20;
  const char16_t* lpszDocName = nullptr;
  const char16_t* lpszOutput = nullptr;  // a file to print to, or nullptr for the spooler
  const char16_t* lpszDatatype = nullptr;
  DWORD fwType = 0;
};
// Asked while a document prints; 0 stops the job.
using ABORTPROC = int (*)(HDC dc, int error);

constexpr int SP_ERROR = -1;
constexpr int HORZRES = 8, VERTRES = 10, LOGPIXELSX = 88, LOGPIXELSY = 90, PHYSICALWIDTH = 110, PHYSICALHEIGHT = 111,
              PHYSICALOFFSETX = 112, PHYSICALOFFSETY = 113;

// A printer DC for the device and its device mode (nullptr: the defaults);
// driver and port are informational. nullptr when the page cannot be made.
HDC CreateDCA(const char* driver, const char* device, const char* port, const TDevMode* mode);
// The job id (> 0), or SP_ERROR.
int StartDocW(HDC dc, const DOCINFOW* info);
int StartPage(HDC dc);
int EndPage(HDC dc);
int EndDoc(HDC dc);
int AbortDoc(HDC dc);
int SetAbortProc(HDC dc, ABORTPROC proc);
// Printer DCs: their page and resolution; other DCs: 96 dpi and 0 sizes.
int GetDeviceCaps(HDC dc, int index);
bool IsPrinterDC(HDC dc);

// ---------------------------------------------------------------------------
// Spooler

struct SYSTEMTIME {
  uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0, wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

constexpr DWORD JOB_STATUS_PAUSED = 0x1, JOB_STATUS_ERROR = 0x2, JOB_STATUS_DELETING = 0x4, JOB_STATUS_SPOOLING = 0x8,
                JOB_STATUS_PRINTING = 0x10, JOB_STATUS_PRINTED = 0x80, JOB_STATUS_DELETED = 0x100;
constexpr DWORD JOB_CONTROL_PAUSE = 1, JOB_CONTROL_RESUME = 2, JOB_CONTROL_DELETE = 5;
constexpr DWORD PRINTER_ACCESS_USE = 8;

struct JOB_INFO_1 {
  DWORD JobId = 0;
  std::string pPrinterName, pMachineName, pUserName, pDocument, pDatatype, pStatus;
  DWORD Status = 0;
  DWORD Priority = 0;
  DWORD Position = 0;
  DWORD TotalPages = 0;
  DWORD PagesPrinted = 0;
  SYSTEMTIME Submitted;  // UTC
};

struct TPrinterHandle;
using HANDLE = TPrinterHandle*;

// False when the scheduler does not know the printer.
BOOL OpenPrinterA(const char* name, HANDLE* printer, DWORD desiredAccess);
BOOL ClosePrinter(HANDLE printer);
// One call where the spooler API asks twice (size, then data).
BOOL GetJobA(HANDLE printer, DWORD jobId, JOB_INFO_1& info);
BOOL SetJobA(HANDLE printer, DWORD jobId, DWORD command);

// ---------------------------------------------------------------------------
// The class library's printer

// What a printer canvas offers the renderer: the DC to draw on and the
// resolution its font follows.
class TPrinterCanvas {
public:
  virtual ~TPrinterCanvas() = default;
  HDC Handle() const { return handle_; }
  // Pixels per inch of the canvas font (the device's vertical resolution).
  int FontPixelsPerInch = 96;

protected:
  HDC handle_ = nullptr;
};

class TPrinter {
public:
  TPrinter();
  ~TPrinter();
  TPrinter(const TPrinter&) = delete;
  TPrinter& operator=(const TPrinter&) = delete;

  // The scheduler's printers (read once, on first use).
  const std::vector<std::string>& Printers();
  // -1: the default printer (the first when the scheduler names none).
  int PrinterIndex();
  void SetPrinterIndex(int index);
  // Device, driver and port names and the device mode of the current printer.
  void GetPrinter(std::string& device, std::string& driver, std::string& port, TDevModeBytes*& devMode);
  // Selects a printer by name, which need not be known to the scheduler
  // (printing to files); a device mode of the wrong size is ignored.
  void SetPrinter(const std::string& device, const std::string& driver, const std::string& port,
                  const TDevModeBytes* devMode);

  // Starts a spooled document titled Title; raises EPrinterError when the job
  // cannot start.
  void BeginDoc();
  void NewPage();
  void EndDoc();
  void Abort();
  bool Aborted() const { return aborted_; }
  bool Printing() const { return printing_; }
  int PageNumber() const { return pageNumber_; }

  // The printing DC (made on first use: before BeginDoc it only informs).
  HDC Handle();
  TPrinterCanvas& Canvas();
  int PageWidth();
  int PageHeight();

  std::string Title;

private:
  void ensurePrinters();
  void freeDC();

  std::vector<std::string> printers_;
  bool printersRead_ = false;
  int index_ = -1;
  std::string device_, driver_, port_;
  TDevModeBytes devMode_;
  HDC dc_ = nullptr;
  std::unique_ptr<TPrinterCanvas> canvas_;
  bool printing_ = false;
  bool aborted_ = false;
  int pageNumber_ = 0;
};

// The process-wide printer object.
TPrinter& Printer();
