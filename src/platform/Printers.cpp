// Printer DCs over page bitmaps, documents as cairo PDF files, and the CUPS
// scheduler for spooled jobs and job control.
#include "platform/Printers.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cups/cups.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>

#include "platform/RuntimeLibrary.h"

namespace {

// The CUPS library (and the TLS, Kerberos, D-Bus and Avahi libraries it
// pulls in) costs every process several megabytes of resident memory at
// start-up, though only printing uses it; it is loaded at the first call
// that talks to the scheduler. Without it every such call fails as a
// scheduler that cannot be reached does.
struct TCupsLibrary {
  TRuntimeLibrary library{"libcups.so.2"};
  bool loaded = false;
#define PVL_CUPS_FUNCTIONS(X)                                                                                         \
  X(cupsCancelJob2) X(cupsCreateJob) X(cupsDoRequest) X(cupsFinishDocument) X(cupsFreeDests) X(cupsFreeJobs)          \
  X(cupsGetDests2) X(cupsGetJobs2) X(cupsGetNamedDest) X(cupsLastError) X(cupsStartDocument) X(cupsUser)             \
  X(cupsWriteRequestData) X(ippAddString) X(ippDelete) X(ippNewRequest)
#define PVL_CUPS_POINTER(name) decltype(&::name) name##_ = nullptr;
  PVL_CUPS_FUNCTIONS(PVL_CUPS_POINTER)
#undef PVL_CUPS_POINTER

  TCupsLibrary() {
#define PVL_CUPS_RESOLVE(name) library.Bind(#name, name##_);
    PVL_CUPS_FUNCTIONS(PVL_CUPS_RESOLVE)
#undef PVL_CUPS_RESOLVE
    loaded = library.Complete();  // the library stays loaded for the process's life
  }

  int cupsCancelJob2(http_t* h, const char* n, int id, int purge) { return loaded ? cupsCancelJob2_(h, n, id, purge) : 0; }
  int cupsCreateJob(http_t* h, const char* n, const char* title, int numOptions, cups_option_t* options) {
    return loaded ? cupsCreateJob_(h, n, title, numOptions, options) : 0;
  }
  ipp_t* cupsDoRequest(http_t* h, ipp_t* request, const char* resource) {
    return loaded ? cupsDoRequest_(h, request, resource) : nullptr;
  }
  ipp_status_t cupsFinishDocument(http_t* h, const char* n) {
    return loaded ? cupsFinishDocument_(h, n) : IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
  }
  void cupsFreeDests(int count, cups_dest_t* dests) {
    if (loaded) cupsFreeDests_(count, dests);
  }
  void cupsFreeJobs(int count, cups_job_t* jobs) {
    if (loaded) cupsFreeJobs_(count, jobs);
  }
  int cupsGetDests2(http_t* h, cups_dest_t** dests) {
    *dests = nullptr;
    return loaded ? cupsGetDests2_(h, dests) : 0;
  }
  int cupsGetJobs2(http_t* h, cups_job_t** jobs, const char* n, int myJobs, int which) {
    *jobs = nullptr;
    return loaded ? cupsGetJobs2_(h, jobs, n, myJobs, which) : -1;
  }
  cups_dest_t* cupsGetNamedDest(http_t* h, const char* n, const char* instance) {
    return loaded ? cupsGetNamedDest_(h, n, instance) : nullptr;
  }
  ipp_status_t cupsLastError() { return loaded ? cupsLastError_() : IPP_STATUS_ERROR_SERVICE_UNAVAILABLE; }
  http_status_t cupsStartDocument(http_t* h, const char* n, int id, const char* docname, const char* format, int last) {
    return loaded ? cupsStartDocument_(h, n, id, docname, format, last) : HTTP_STATUS_ERROR;
  }
  const char* cupsUser() { return loaded ? cupsUser_() : ""; }
  http_status_t cupsWriteRequestData(http_t* h, const char* buffer, size_t length) {
    return loaded ? cupsWriteRequestData_(h, buffer, length) : HTTP_STATUS_ERROR;
  }
  ipp_attribute_t* ippAddString(ipp_t* ipp, ipp_tag_t group, ipp_tag_t valueTag, const char* name, const char* language,
                                const char* value) {
    return loaded && ipp ? ippAddString_(ipp, group, valueTag, name, language, value) : nullptr;
  }
  void ippDelete(ipp_t* ipp) {
    if (loaded) ippDelete_(ipp);
  }
  ipp_t* ippNewRequest(ipp_op_t op) { return loaded ? ippNewRequest_(op) : nullptr; }
};
#undef PVL_CUPS_FUNCTIONS

TCupsLibrary& Cups() {
  static TCupsLibrary library;  // thread-safe first use
  return library;
}

}  // namespace

namespace {

std::string ToUTF8(const char16_t* text) {
  std::string out;
  if (!text) return out;
  for (size_t i = 0; text[i]; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Latin-1 and ASCII titles widen byte by byte; other UTF-8 is decoded.
std::u16string ToUTF16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    auto b = static_cast<uint8_t>(text[i]);
    uint32_t c = b;
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (n > 1) {
      c = b & (0x7F >> n);
      for (size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += n;
  }
  return out;
}

// Paper sizes in tenths of a millimetre.
struct TPaper {
  int16_t code;
  int width, length;
};
constexpr TPaper kPapers[] = {{DMPAPER_LETTER, 2159, 2794},
                              {DMPAPER_LEGAL, 2159, 3556},
                              {DMPAPER_A3, 2970, 4200},
                              {DMPAPER_A4, 2100, 2970},
                              {DMPAPER_A5, 1480, 2100}};

int DotsPerInch(const TDevMode& mode) {
  switch (mode.dmPrintQuality) {
    case DMRES_HIGH:
      return 600;
    case DMRES_MEDIUM:
      return 300;
    case DMRES_LOW:
      return 150;
    case DMRES_DRAFT:
      return 96;
    default:
      return mode.dmPrintQuality >= 36 && mode.dmPrintQuality <= 1200 ? mode.dmPrintQuality : 300;
  }
}

// One printer DC: its page, and the document being printed on it.
struct TPrintJob {
  std::string device;
  int dpi = 300;
  TBitmap page;
  bool docStarted = false;
  bool pageOpen = false;
  bool aborted = false;
  ABORTPROC abortProc = nullptr;
  std::string output;   // the file printed to; empty when spooled
  std::string pdfPath;  // where the PDF is being written
  int jobId = 0;
  bool spooled = false;
  std::string title;
  cairo_surface_t* pdf = nullptr;
  int pages = 0;

  // The paper in points; the page bitmap covers it at whole pixels.
  double widthPoints = 0, heightPoints = 0;
  void closePdf() {
    if (!pdf) return;
    cairo_surface_finish(pdf);
    cairo_surface_destroy(pdf);
    pdf = nullptr;
  }
  void discard() {
    closePdf();
    if (!pdfPath.empty()) std::remove(pdfPath.c_str());
    pdfPath.clear();
    if (spooled && jobId > 0) Cups().cupsCancelJob2(CUPS_HTTP_DEFAULT, device.c_str(), jobId, 0);
    docStarted = pageOpen = false;
  }
  ~TPrintJob() {
    if (docStarted) discard();
    closePdf();
  }
};

std::mutex& JobsMutex() {
  static std::mutex m;
  return m;
}
std::map<HDC, std::unique_ptr<TPrintJob>>& Jobs() {
  static std::map<HDC, std::unique_ptr<TPrintJob>> jobs;
  return jobs;
}
std::atomic<int> nextFileJob{1};

TPrintJob* FindJob(HDC dc) {
  std::lock_guard lock(JobsMutex());
  auto it = Jobs().find(dc);
  return it == Jobs().end() ? nullptr : it->second.get();
}

void ForgetPrinterDC(HDC dc) {
  std::unique_ptr<TPrintJob> job;
  {
    std::lock_guard lock(JobsMutex());
    auto it = Jobs().find(dc);
    if (it == Jobs().end()) return;
    job = std::move(it->second);
    Jobs().erase(it);
  }
}

// A file beside target that no other job uses.
std::string TemporaryBeside(const std::string& target) {
  std::filesystem::path dir = std::filesystem::path(target).parent_path();
  if (dir.empty()) dir = ".";
  static std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path p = dir / (".print-" + std::to_string(::getpid()) + "-" + std::to_string(random()) + ".tmp");
    if (!std::filesystem::exists(p)) return p.string();
  }
  return (dir / ".print.tmp").string();
}

bool Continue(TPrintJob* job, HDC dc) {
  if (job->abortProc && job->abortProc(dc, 0) == 0) job->aborted = true;
  return !job->aborted;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// ---------------------------------------------------------------------------
// Device modes

TDevModeBytes MakeDevMode(const std::string& device) {
  TDevMode mode;
  std::strncpy(mode.dmDeviceName, device.c_str(), sizeof(mode.dmDeviceName) - 1);
  mode.dmSize = sizeof(TDevMode);
  mode.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_PRINTQUALITY | DM_COLOR | DM_YRESOLUTION;
  TDevModeBytes bytes(sizeof(TDevMode));
  std::memcpy(bytes.data(), &mode, sizeof mode);
  return bytes;
}

TDevMode* DevModeOf(TDevModeBytes& bytes) {
  return bytes.size() >= sizeof(TDevMode) ? reinterpret_cast<TDevMode*>(bytes.data()) : nullptr;
}

const TDevMode* DevModeOf(const TDevModeBytes& bytes) {
  return bytes.size() >= sizeof(TDevMode) ? reinterpret_cast<const TDevMode*>(bytes.data()) : nullptr;
}

// ---------------------------------------------------------------------------
// Printer DCs and documents

HDC CreateDCA(const char* /*driver*/, const char* device, const char* /*port*/, const TDevMode* mode) {
  SetDeleteDCHook(ForgetPrinterDC);
  TDevMode defaults;
  const TDevMode& m = mode ? *mode : defaults;
  auto job = std::make_unique<TPrintJob>();
  job->device = device ? device : "";
  job->dpi = DotsPerInch(m);
  TPaper paper = kPapers[3];
  for (const TPaper& p : kPapers)
    if (p.code == m.dmPaperSize) paper = p;
  int width = paper.width, length = paper.length;
  if ((m.dmFields & DM_PAPERWIDTH) && m.dmPaperWidth > 0) width = m.dmPaperWidth;
  if ((m.dmFields & DM_PAPERLENGTH) && m.dmPaperLength > 0) length = m.dmPaperLength;
  if (m.dmOrientation == DMORIENT_LANDSCAPE) std::swap(width, length);
  job->widthPoints = width / 254.0 * 72;
  job->heightPoints = length / 254.0 * 72;
  const auto pixels = [&](int tenthsOfMm) {
    return std::max(1, static_cast<int>(tenthsOfMm / 254.0 * job->dpi + 0.5));
  };
  try {
    job->page.SetPixelFormat(TPixelFormat::pf32bit);
    job->page.SetSize(pixels(width), pixels(length));
  } catch (const EBitmapError&) {
    return nullptr;
  }
  job->page.Fill(0xFFFFFF);
  HDC dc = CreateBitmapDC(job->page);
  if (!dc) return nullptr;
  std::lock_guard lock(JobsMutex());
  Jobs()[dc] = std::move(job);
  return dc;
}

bool IsPrinterDC(HDC dc) {
  return FindJob(dc) != nullptr;
}

int StartDocW(HDC dc, const DOCINFOW* info) {
  TPrintJob* job = FindJob(dc);
  if (!job || job->docStarted) return SP_ERROR;
  job->title = info ? ToUTF8(info->lpszDocName) : "";
  job->output = info ? ToUTF8(info->lpszOutput) : "";
  job->aborted = false;
  job->pages = 0;
  job->spooled = job->output.empty();
  if (job->spooled) {
    if (!Cups().cupsGetNamedDest(CUPS_HTTP_DEFAULT, job->device.c_str(), nullptr)) return SP_ERROR;
    job->jobId = Cups().cupsCreateJob(CUPS_HTTP_DEFAULT, job->device.c_str(),
                               job->title.empty() ? "Document" : job->title.c_str(), 0, nullptr);
    if (job->jobId <= 0) return SP_ERROR;
    job->pdfPath = TemporaryBeside((std::filesystem::temp_directory_path() / "x").string());
  } else {
    job->jobId = nextFileJob++;
    job->pdfPath = TemporaryBeside(job->output);
  }
  job->pdf = cairo_pdf_surface_create(job->pdfPath.c_str(), job->widthPoints, job->heightPoints);
  if (cairo_surface_status(job->pdf) != CAIRO_STATUS_SUCCESS) {
    job->discard();
    return SP_ERROR;
  }
  if (!job->title.empty()) cairo_pdf_surface_set_metadata(job->pdf, CAIRO_PDF_METADATA_TITLE, job->title.c_str());
  job->docStarted = true;
  return job->jobId;
}

int StartPage(HDC dc) {
  TPrintJob* job = FindJob(dc);
  if (!job || !job->docStarted || job->pageOpen || !Continue(job, dc)) return SP_ERROR;
  job->page.Fill(0xFFFFFF);
  job->pageOpen = true;
  return 1;
}

int EndPage(HDC dc) {
  TPrintJob* job = FindJob(dc);
  if (!job || !job->pageOpen) return SP_ERROR;
  job->pageOpen = false;
  if (job->aborted) return SP_ERROR;
  GdiFlushDC(dc);
  cairo_surface_t* image = cairo_image_surface_create_for_data(job->page.Bits(), CAIRO_FORMAT_RGB24, job->page.Width(),
                                                               job->page.Height(), job->page.Stride());
  cairo_t* cr = cairo_create(job->pdf);
  cairo_scale(cr, job->widthPoints / job->page.Width(), job->heightPoints / job->page.Height());
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_paint(cr);
  cairo_show_page(cr);
  const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  cairo_surface_destroy(image);
  if (!ok) {
    job->aborted = true;
    return SP_ERROR;
  }
  ++job->pages;
  return Continue(job, dc) ? 1 : SP_ERROR;
}

int EndDoc(HDC dc) {
  TPrintJob* job = FindJob(dc);
  if (!job || !job->docStarted) return SP_ERROR;
  if (job->pageOpen) EndPage(dc);
  if (job->aborted) {
    job->discard();
    return SP_ERROR;
  }
  job->closePdf();
  int result = 1;
  if (!job->spooled) {
    // The finished file replaces the target in one step.
    std::error_code error;
    std::filesystem::rename(job->pdfPath, job->output, error);
    if (error) {
      std::remove(job->pdfPath.c_str());
      result = SP_ERROR;
    }
  } else {
    const std::string bytes = ReadWhole(job->pdfPath);
    std::remove(job->pdfPath.c_str());
    const char* title = job->title.empty() ? "Document" : job->title.c_str();
    if (Cups().cupsStartDocument(CUPS_HTTP_DEFAULT, job->device.c_str(), job->jobId, title, CUPS_FORMAT_PDF, 1) !=
            HTTP_STATUS_CONTINUE ||
        Cups().cupsWriteRequestData(CUPS_HTTP_DEFAULT, bytes.data(), bytes.size()) != HTTP_STATUS_CONTINUE ||
        Cups().cupsFinishDocument(CUPS_HTTP_DEFAULT, job->device.c_str()) > IPP_STATUS_OK_CONFLICTING)
      result = SP_ERROR;
  }
  job->pdfPath.clear();
  job->docStarted = false;
  return result;
}

int AbortDoc(HDC dc) {
  TPrintJob* job = FindJob(dc);
  if (!job || !job->docStarted) return SP_ERROR;
  job->aborted = true;
  job->discard();
  return 1;
}

int SetAbortProc(HDC dc, ABORTPROC proc) {
  TPrintJob* job = FindJob(dc);
  if (!job) return SP_ERROR;
  job->abortProc = proc;
  return 1;
}

int GetDeviceCaps(HDC dc, int index) {
  TPrintJob* job = FindJob(dc);
  switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
      return job ? job->dpi : 96;
    case HORZRES:
    case PHYSICALWIDTH:
      return job ? job->page.Width() : 0;
    case VERTRES:
    case PHYSICALHEIGHT:
      return job ? job->page.Height() : 0;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Spooler

struct TPrinterHandle {
  std::string name;
};

namespace {
std::map<HANDLE, std::unique_ptr<TPrinterHandle>>& OpenPrinters() {
  static std::map<HANDLE, std::unique_ptr<TPrinterHandle>> open;
  return open;
}
}  // namespace

BOOL OpenPrinterA(const char* name, HANDLE* printer, DWORD /*desiredAccess*/) {
  if (!printer) return 0;
  *printer = nullptr;
  if (!name || !*name) return 0;
  cups_dest_t* dest = Cups().cupsGetNamedDest(CUPS_HTTP_DEFAULT, name, nullptr);
  if (!dest) return 0;
  Cups().cupsFreeDests(1, dest);
  auto handle = std::make_unique<TPrinterHandle>(TPrinterHandle{name});
  *printer = handle.get();
  std::lock_guard lock(JobsMutex());
  OpenPrinters()[*printer] = std::move(handle);
  return 1;
}

BOOL ClosePrinter(HANDLE printer) {
  std::lock_guard lock(JobsMutex());
  return OpenPrinters().erase(printer) ? 1 : 0;
}

BOOL GetJobA(HANDLE printer, DWORD jobId, JOB_INFO_1& info) {
  if (!printer) return 0;
  cups_job_t* jobs = nullptr;
  const int count = Cups().cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer->name.c_str(), 0, CUPS_WHICHJOBS_ALL);
  BOOL found = 0;
  DWORD position = 0;
  for (int i = 0; i < count; ++i) {
    const cups_job_t& j = jobs[i];
    if (j.state <= IPP_JSTATE_PROCESSING) ++position;
    if (static_cast<DWORD>(j.id) != jobId) continue;
    info = JOB_INFO_1{};
    info.JobId = jobId;
    info.pPrinterName = j.dest ? j.dest : printer->name;
    info.pUserName = j.user ? j.user : "";
    info.pDocument = j.title ? j.title : "";
    info.pDatatype = j.format ? j.format : "";
    info.Priority = static_cast<DWORD>(std::max(j.priority, 0));
    info.Position = j.state <= IPP_JSTATE_PROCESSING ? position : 0;
    switch (j.state) {
      case IPP_JSTATE_HELD:
        info.Status = JOB_STATUS_PAUSED;
        break;
      case IPP_JSTATE_PROCESSING:
        info.Status = JOB_STATUS_PRINTING;
        break;
      case IPP_JSTATE_STOPPED:
      case IPP_JSTATE_ABORTED:
        info.Status = JOB_STATUS_ERROR;
        break;
      case IPP_JSTATE_CANCELED:
        info.Status = JOB_STATUS_DELETED;
        break;
      case IPP_JSTATE_COMPLETED:
        info.Status = JOB_STATUS_PRINTED;
        break;
      default:
        info.Status = 0;
    }
    std::tm utc{};
    const time_t created = j.creation_time;
    if (gmtime_r(&created, &utc)) {
      info.Submitted.wYear = static_cast<uint16_t>(utc.tm_year + 1900);
      info.Submitted.wMonth = static_cast<uint16_t>(utc.tm_mon + 1);
      info.Submitted.wDayOfWeek = static_cast<uint16_t>(utc.tm_wday);
      info.Submitted.wDay = static_cast<uint16_t>(utc.tm_mday);
      info.Submitted.wHour = static_cast<uint16_t>(utc.tm_hour);
      info.Submitted.wMinute = static_cast<uint16_t>(utc.tm_min);
      info.Submitted.wSecond = static_cast<uint16_t>(utc.tm_sec);
    }
    found = 1;
    break;
  }
  Cups().cupsFreeJobs(count, jobs);
  return found;
}

BOOL SetJobA(HANDLE printer, DWORD jobId, DWORD command) {
  if (!printer) return 0;
  if (command == JOB_CONTROL_DELETE)
    return Cups().cupsCancelJob2(CUPS_HTTP_DEFAULT, printer->name.c_str(), int(jobId), 0) != 0;
  if (command != JOB_CONTROL_PAUSE && command != JOB_CONTROL_RESUME) return 0;
  ipp_t* request = Cups().ippNewRequest(command == JOB_CONTROL_PAUSE ? IPP_OP_HOLD_JOB : IPP_OP_RELEASE_JOB);
  const std::string uri = "ipp://localhost/jobs/" + std::to_string(jobId);
  Cups().ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
  Cups().ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, Cups().cupsUser());
  Cups().ippDelete(Cups().cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/jobs/"));
  return Cups().cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
}

// ---------------------------------------------------------------------------
// The class library's printer

namespace {
class TPrinterDCCanvas : public TPrinterCanvas {
public:
  void Set(HDC dc) {
    handle_ = dc;
    FontPixelsPerInch = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  }
};
}  // namespace

TPrinter::TPrinter() {
  // The GDI objects and the job table must outlive the process-wide printer,
  // which frees its DC when it is destroyed: make them first.
  (void)GetStockObject(WHITE_BRUSH);
  FindJob(nullptr);
}

TPrinter::~TPrinter() {
  if (printing_ && dc_) AbortDoc(dc_);
  freeDC();
}

void TPrinter::ensurePrinters() {
  if (printersRead_) return;
  printersRead_ = true;
  cups_dest_t* dests = nullptr;
  const int count = Cups().cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  int defaultIndex = -1;
  for (int i = 0; i < count; ++i) {
    std::string name = dests[i].name;
    if (dests[i].instance) name += std::string("/") + dests[i].instance;
    if (dests[i].is_default && defaultIndex < 0) defaultIndex = static_cast<int>(printers_.size());
    printers_.push_back(name);
  }
  Cups().cupsFreeDests(count, dests);
  if (defaultIndex > 0) index_ = defaultIndex;
}

const std::vector<std::string>& TPrinter::Printers() {
  ensurePrinters();
  return printers_;
}

int TPrinter::PrinterIndex() {
  ensurePrinters();
  if (index_ < 0 && !printers_.empty()) return 0;
  return index_;
}

void TPrinter::SetPrinterIndex(int index) {
  ensurePrinters();
  if (index == -1) index = printers_.empty() ? -1 : 0;
  if (index < -1 || index >= static_cast<int>(printers_.size())) throw EPrinterError("Printer selected is not valid");
  index_ = index;
  device_ = index >= 0 ? printers_[size_t(index)] : std::string();
  driver_ = "CUPS";
  port_ = device_;
  devMode_ = MakeDevMode(device_);
  freeDC();
}

void TPrinter::GetPrinter(std::string& device, std::string& driver, std::string& port, TDevModeBytes*& devMode) {
  if (device_.empty() && PrinterIndex() >= 0) SetPrinterIndex(PrinterIndex());
  device = device_;
  driver = driver_;
  port = port_;
  devMode = device_.empty() ? nullptr : &devMode_;
}

void TPrinter::SetPrinter(const std::string& device, const std::string& driver, const std::string& port,
                          const TDevModeBytes* devMode) {
  ensurePrinters();
  device_ = device;
  driver_ = driver;
  port_ = port;
  auto it = std::find(printers_.begin(), printers_.end(), device);
  index_ = it == printers_.end() ? -1 : static_cast<int>(it - printers_.begin());
  const TDevMode* given = devMode ? DevModeOf(*devMode) : nullptr;
  if (given && given->dmSize == sizeof(TDevMode) && size_t(given->dmSize) + given->dmDriverExtra == devMode->size())
    devMode_ = *devMode;
  else
    devMode_ = MakeDevMode(device);
  freeDC();
}

void TPrinter::freeDC() {
  if (canvas_) static_cast<TPrinterDCCanvas&>(*canvas_).Set(nullptr);
  if (dc_) DeleteDC(dc_);
  dc_ = nullptr;
}

HDC TPrinter::Handle() {
  if (!dc_) {
    std::string device, driver, port;
    TDevModeBytes* mode = nullptr;
    GetPrinter(device, driver, port, mode);
    dc_ = CreateDCA(driver.c_str(), device.c_str(), port.c_str(), mode ? DevModeOf(*mode) : nullptr);
  }
  return dc_;
}

TPrinterCanvas& TPrinter::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TPrinterDCCanvas>();
  static_cast<TPrinterDCCanvas&>(*canvas_).Set(Handle());
  return *canvas_;
}

int TPrinter::PageWidth() {
  return GetDeviceCaps(Handle(), HORZRES);
}

int TPrinter::PageHeight() {
  return GetDeviceCaps(Handle(), VERTRES);
}

void TPrinter::BeginDoc() {
  if (printing_) throw EPrinterError("Printing in progress");
  aborted_ = false;
  HDC dc = Handle();
  if (!dc) throw EPrinterError("Printer selected is not valid");
  std::u16string title = ToUTF16(Title);
  DOCINFOW info;
  info.lpszDocName = title.c_str();
  if (StartDocW(dc, &info) <= 0) throw EPrinterError("Printing could not start on \"" + device_ + "\"");
  printing_ = true;
  pageNumber_ = 1;
  StartPage(dc);
}

void TPrinter::NewPage() {
  if (!printing_) throw EPrinterError("Printer is not currently printing");
  EndPage(dc_);
  StartPage(dc_);
  ++pageNumber_;
}

void TPrinter::EndDoc() {
  if (!printing_) throw EPrinterError("Printer is not currently printing");
  EndPage(dc_);
  if (!aborted_) ::EndDoc(dc_);
  printing_ = false;
  aborted_ = false;
  pageNumber_ = 0;
}

void TPrinter::Abort() {
  if (!printing_) return;
  AbortDoc(dc_);
  aborted_ = true;
  printing_ = false;
}

TPrinter& Printer() {
  static TPrinter printer;
  return printer;
}
