// Printer wrapper, printer options and spooler job control.
#include "render/PavonaPrinting.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <limits>

#include "objects/PavonaExtra.h"

namespace {

std::atomic<TPVLPrinter*> currentPrinter{nullptr};

int AbortProcedure(HDC, int) {
  TPVLPrinter* p = currentPrinter;
  return p && p->Aborted() ? 0 : 1;
}

// The printer's device mode; when it has none, the printer is selected again
// by its own index and asked once more.
TDevModeBytes* DevModeBytesOf(TPrinter& printer, std::string& device, std::string& driver, std::string& port) {
  TDevModeBytes* mode = nullptr;
  printer.GetPrinter(device, driver, port, mode);
  if (!mode && printer.PrinterIndex() >= 0) {
    printer.SetPrinterIndex(printer.PrinterIndex());
    printer.GetPrinter(device, driver, port, mode);
  }
  return mode && DevModeOf(*mode) ? mode : nullptr;
}

// Device-mode fields are 16 bits: a value that does not fit is not written.
bool Fits(int32_t v) {
  return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
}

}  // namespace

// ---------------------------------------------------------------------------
// TLocalCanvas

TLocalCanvas::~TLocalCanvas() {
  if (infoDC_) DeleteDC(infoDC_);
}

HDC TLocalCanvas::GetHandle() {
  if (!handle_ && Printer) {
    if (!infoDC_) {
      std::string device, driver, port;
      TDevModeBytes* mode = nullptr;
      Printer->GetPrinter(device, driver, port, mode);
      infoDC_ = CreateDCA(driver.c_str(), device.c_str(), port.c_str(), mode ? DevModeOf(*mode) : nullptr);
    }
    handle_ = infoDC_;
    Refresh();
  }
  return handle_;
}

void TLocalCanvas::SetHandle(HDC dc) {
  if (infoDC_ && dc != infoDC_) {
    DeleteDC(infoDC_);
    infoDC_ = nullptr;
  }
  handle_ = dc;
  Refresh();
}

void TLocalCanvas::Refresh() {
  FontPixelsPerInch = handle_ ? GetDeviceCaps(handle_, LOGPIXELSY) : 96;
}

// ---------------------------------------------------------------------------
// TPVLPrinter

TPVLPrinter::TPVLPrinter(TPrinter* printer, bool useOwnDC, std::u16string outputFile)
    : Printer(printer), OutputFile(std::move(outputFile)), UseOwnDC(useOwnDC) {
  currentPrinter = this;
}

TPVLPrinter::~TPVLPrinter() {
  TPVLPrinter* self = this;
  currentPrinter.compare_exchange_strong(self, nullptr);
  Canvas.reset();
  if (DC) DeleteDC(DC);
}

TPrinterCanvas* TPVLPrinter::GetCanvas() {
  if (!Printer) return nullptr;
  if (!UseOwnDC) return &Printer->Canvas();
  if (!Canvas) Canvas = std::make_unique<TLocalCanvas>(Printer);
  Canvas->GetHandle();
  return Canvas.get();
}

HDC TPVLPrinter::GetHandle() {
  if (!Printer) return nullptr;
  return UseOwnDC ? DC : Printer->Handle();
}

int TPVLPrinter::GetPageWidth() {
  return Printer ? Printer->PageWidth() : 0;
}

int TPVLPrinter::GetPageHeight() {
  return Printer ? Printer->PageHeight() : 0;
}

std::string TPVLPrinter::GetTitle() const {
  return Printer ? Printer->Title : std::string();
}

void TPVLPrinter::SetTitle(const std::string& title) {
  if (Printer) Printer->Title = title;
}

bool TPVLPrinter::Aborted() const {
  return Printer && Printer->Aborted();
}

void TPVLPrinter::BeginDoc() {
  if (!Printer) return;
  if (!UseOwnDC) {
    Printer->BeginDoc();
    return;
  }
  GetCanvas();
  std::string device, driver, port;
  TDevModeBytes* mode = nullptr;
  Printer->GetPrinter(device, driver, port, mode);
  DeviceName = device.substr(0, std::min<size_t>(device.find('\0'), 256));
  if (DC) DeleteDC(DC);
  DC = CreateDCA(driver.c_str(), device.c_str(), port.c_str(), mode ? DevModeOf(*mode) : nullptr);
  Canvas->SetHandle(DC);
  const std::u16string wideTitle = UTF8ToWide(Printer->Title);
  DOCINFOW info;
  if (!Printer->Title.empty()) info.lpszDocName = wideTitle.c_str();
  if (!OutputFile.empty()) info.lpszOutput = OutputFile.c_str();
  SetAbortProc(DC, AbortProcedure);
  JobId = StartDocW(DC, &info);
  if (JobControl) PrintJobControl(401, JobId, DeviceName);
  StartPage(DC);
}

void TPVLPrinter::NewPage() {
  if (!Printer) return;
  if (!UseOwnDC) {
    Printer->NewPage();
    return;
  }
  EndPage(DC);
  StartPage(DC);
  if (Canvas) Canvas->Refresh();
}

bool TPVLPrinter::EndDoc() {
  if (!Printer) return false;
  if (!UseOwnDC) {
    Printer->EndDoc();
    return true;
  }
  EndPage(DC);
  if (Aborted()) return false;
  return ::EndDoc(DC) > 0;
}

TPVLPrinter* CurrentPVLPrinter() {
  return currentPrinter;
}

// ---------------------------------------------------------------------------
// Options and spooler

void ApplyPrinterOptions(const TPrinterOptions& options, TPrinter& printer) {
  std::string device, driver, port;
  TDevModeBytes* bytes = DevModeBytesOf(printer, device, driver, port);
  if (!bytes) return;
  TDevModeBytes changed = *bytes;
  TDevMode& mode = *DevModeOf(changed);
  mode.dmFields |= static_cast<uint32_t>(options.FieldMask);
  auto setIfPositive = [](int16_t& field, int32_t v) {
    if (v > 0 && Fits(v)) field = static_cast<int16_t>(v);
  };
  setIfPositive(mode.dmPaperSize, options.PaperSize);
  setIfPositive(mode.dmPaperLength, options.PaperLength);
  setIfPositive(mode.dmPaperWidth, options.PaperWidth);
  setIfPositive(mode.dmCopies, options.Copies);
  setIfPositive(mode.dmDefaultSource, options.DefaultSource);
  if (options.MediaType > 0) mode.dmMediaType = static_cast<uint32_t>(options.MediaType);
  setIfPositive(mode.dmOrientation, options.Orientation);
  setIfPositive(mode.dmColor, options.Color);
  setIfPositive(mode.dmDuplex, options.Duplex);
  if (options.Collate >= 0 && Fits(options.Collate)) mode.dmCollate = static_cast<int16_t>(options.Collate);
  static constexpr int16_t kQuality[] = {DMRES_HIGH, DMRES_MEDIUM, DMRES_LOW, DMRES_DRAFT};
  if (options.PrintQuality >= 1 && options.PrintQuality <= 4) mode.dmPrintQuality = kQuality[options.PrintQuality - 1];
  // Selecting the printer again with the changed mode makes its next DC use it.
  printer.SetPrinter(device, driver, port, &changed);
}

void SetPrinterDevMode(TPrinter& printer, const std::string& bytes) {
  std::string device, driver, port;
  TDevModeBytes* current = DevModeBytesOf(printer, device, driver, port);
  if (!current) return;
  const TDevMode* mode = DevModeOf(*current);
  if (size_t(mode->dmSize) + mode->dmDriverExtra != bytes.size()) return;
  const TDevModeBytes stored(bytes.begin(), bytes.end());
  printer.SetPrinter(device, driver, port, &stored);
}

int32_t PrintJobControl(int32_t code, int32_t jobId, const std::string& printerName) {
  if (printerName.empty()) return 0;
  HANDLE handle = nullptr;
  if (!OpenPrinterA(printerName.c_str(), &handle, PRINTER_ACCESS_USE)) return 0;
  int32_t result = 0;
  JOB_INFO_1 info;
  if (jobId > 0 && GetJobA(handle, static_cast<DWORD>(jobId), info)) {
    switch (code) {
      case 200:
        result = 1;
        break;
      case 201:
        result = static_cast<int32_t>(info.JobId);
        break;
      case 202:
        result = static_cast<int32_t>(info.Priority);
        break;
      case 203:
        result = static_cast<int32_t>(info.Position);
        break;
      case 204:
        result = static_cast<int32_t>(info.TotalPages);
        break;
      case 205:
        result = static_cast<int32_t>(info.PagesPrinted);
        break;
      case 206: {
        std::tm utc{};
        utc.tm_year = info.Submitted.wYear - 1900;
        utc.tm_mon = info.Submitted.wMonth - 1;
        utc.tm_mday = info.Submitted.wDay;
        utc.tm_hour = info.Submitted.wHour;
        utc.tm_min = info.Submitted.wMinute;
        utc.tm_sec = info.Submitted.wSecond;
        const auto submitted = std::chrono::system_clock::from_time_t(timegm(&utc));
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now() - submitted).count();
        result = static_cast<int32_t>(std::clamp<int64_t>(elapsed, 0, INT32_MAX));
        break;
      }
      case 207: {
        std::string type = info.pDatatype;
        std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::toupper(c); });
        result = type.find("RAW") != std::string::npos    ? 1
                 : type.find("EMF") != std::string::npos  ? 2
                 : type.find("TEXT") != std::string::npos ? 3
                 : type.find("XPS") != std::string::npos  ? 4
                                                          : 0;
        break;
      }
      case 300:
        result = static_cast<int32_t>(info.Status);
        break;
      case 401:
      case 402:
      case 403:
        SetJobA(handle, static_cast<DWORD>(jobId),
                code == 401   ? JOB_CONTROL_PAUSE
                : code == 402 ? JOB_CONTROL_RESUME
                              : JOB_CONTROL_DELETE);
        result = 1;
        break;
      default:
        if (code >= 301 && code <= 314) result = (info.Status >> (code - 301)) & 1;
    }
  }
  ClosePrinter(handle);
  return result;
}
