// The printer wrapper the renderer prints through: either the class
// library's print job or a printer DC of its own, which can print to a file,
// hold the job in the spooler as soon as it starts and report its job id.
// Also: stored printer options applied to a printer's device mode, and
// spooler job queries and commands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Printers.h"

// A canvas on a printer DC whose font resolution follows the device. Until a
// DC is set it informs from a DC of its own for the printer's settings.
class TLocalCanvas : public TPrinterCanvas {
public:
  explicit TLocalCanvas(TPrinter* printer) : Printer(printer) {}
  ~TLocalCanvas() override;
  TLocalCanvas(const TLocalCanvas&) = delete;
  TLocalCanvas& operator=(const TLocalCanvas&) = delete;

  // The DC drawn on (an information DC of the printer until one is set).
  HDC GetHandle();
  // Uses the caller's DC (not owned); nullptr returns to informing.
  void SetHandle(HDC dc);
  // Font pixels per inch from the device's vertical resolution.
  void Refresh();

  TPrinter* Printer;  // not owned

private:
  HDC infoDC_ = nullptr;  // owned
};

class TPVLPrinter {
public:
  // Becomes the process-wide current printer (asked by the abort procedure).
  TPVLPrinter(TPrinter* printer, bool useOwnDC, std::u16string outputFile);
  ~TPVLPrinter();
  TPVLPrinter(const TPVLPrinter&) = delete;
  TPVLPrinter& operator=(const TPVLPrinter&) = delete;

  void BeginDoc();
  void NewPage();
  // False when the document could not be finished (own DC: the spooler or
  // the output file refused it, or the job was aborted).
  bool EndDoc();
  // Own DC: the local canvas (made on first use); otherwise the printer's
  // canvas; nullptr without a printer.
  TPrinterCanvas* GetCanvas();
  HDC GetHandle();
  int GetPageWidth();
  int GetPageHeight();
  std::string GetTitle() const;
  void SetTitle(const std::string& title);
  void SetJobControl(bool on) { JobControl = on; }
  bool Aborted() const;

  TPrinter* Printer;  // not owned
  std::unique_ptr<TLocalCanvas> Canvas;
  HDC DC = nullptr;  // owned in own-DC mode
  std::u16string OutputFile;
  bool UseOwnDC = false;
  int32_t JobId = 0;
  std::string DeviceName;
  bool JobControl = false;
};

// The most recently created wrapper (nullptr when it is gone).
TPVLPrinter* CurrentPVLPrinter();

// Printer options the document layer keeps per printer. Zero means "leave
// as it is", except for collate, where any value of 0 or above is written.
struct TPrinterOptions {
  int32_t FieldMask = 0;  // ORed into dmFields
  std::u16string PrinterName;
  int32_t PaperSize = 0;
  int32_t PaperLength = 0;
  int32_t PaperWidth = 0;
  int32_t Copies = 0;
  int32_t PrintQuality = 0;  // 1 high, 2 medium, 3 low, 4 draft
  int32_t Color = 0;
  int32_t Duplex = 0;
  int32_t Collate = -1;
  int32_t DefaultSource = 0;
  int32_t MediaType = 0;
  int32_t Orientation = 0;
};

// Writes the set options into the printer's device mode.
void ApplyPrinterOptions(const TPrinterOptions& options, TPrinter& printer);
// Replaces the printer's device mode by stored bytes of the same size.
void SetPrinterDevMode(TPrinter& printer, const std::string& bytes);
// Spooler queries (200-207, 300-314) and commands (401 pause, 402 resume,
// 403 delete) for a job; 0 for anything that fails or is unknown.
int32_t PrintJobControl(int32_t code, int32_t jobId, const std::string& printerName);
