#include "app/Update.h"
#include "app/Guarded.h"

#include <curl/curl.h>

#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

#include "app/Main.h"
#include "platform/Classes.h"

namespace {

// A version file is a line or two; anything larger is not one.
constexpr size_t kMaxReply = 64 * 1024;
constexpr long kTimeoutSeconds = 15;

struct TDownload {
  std::string bytes;
  bool tooLarge = false;
  const QThread* thread = nullptr;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
  auto* d = static_cast<TDownload*>(user);
  const size_t n = size * count;
  if (d->bytes.size() + n > kMaxReply) {
    d->tooLarge = true;
    return 0;  // ends the transfer
  }
  d->bytes.append(data, n);
  return n;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* d = static_cast<TDownload*>(user);
  // The window is closing: give up at once.
  return d->thread && d->thread->isInterruptionRequested() ? 1 : 0;
}

std::vector<long long> versionNumbers(const QString& text) {
  static const QRegularExpression version("^\\s*(\\d{1,9}(?:\\.\\d{1,9})*)\\s*$");
  const auto m = version.match(text);
  std::vector<long long> out;
  if (!m.hasMatch()) return out;
  for (const QString& part : m.captured(1).split('.')) out.push_back(part.toLongLong());
  return out;
}

}  // namespace

int CompareVersions(const QString& a, const QString& b) {
  const auto x = versionNumbers(a);
  const auto y = versionNumbers(b);
  if (x.empty() || y.empty()) return x.empty() == y.empty() ? 0 : (x.empty() ? -1 : 1);
  for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
    const long long u = i < x.size() ? x[i] : 0;
    const long long v = i < y.size() ? y[i] : 0;
    if (u != v) return u < v ? -1 : 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The main window's side of the check

QString TForm1::UpdateFileName() {
  QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  if (cache.isEmpty()) cache = QDir::tempPath();
  return cache + "/corvane-pdf-reader/version.txt";
}

QString TForm1::UpdateAddress() const {
  return WebRoot() + "/cgi-bin/check_update.cgi?title=" + QString(ProductName).replace(' ', '+');
}

bool TForm1::DownloadFile(const QString& url, const QString& fileName, QString* error) {
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) return false;
  TDownload download;
  download.thread = QThread::currentThread();
  const QByteArray address = url.toUtf8();
  const QByteArray agent = QString("%1 %2").arg(ProductName, ProductVersion).toUtf8();
  curl_easy_setopt(curl.get(), CURLOPT_URL, address.constData());
  curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, agent.constData());
  curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 3L);
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, kTimeoutSeconds);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, kTimeoutSeconds);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
  // Always from the server, never from a cache on the way.
  curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
  std::unique_ptr<curl_slist, void (*)(curl_slist*)> headerList(headers, curl_slist_free_all);
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &download);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, progress);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &download);
  curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
  const CURLcode code = curl_easy_perform(curl.get());
  long status = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  // A page the server sends for a missing file is no version file.
  if (code != CURLE_OK || status < 200 || status >= 300 || download.tooLarge) return false;
  try {
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    WriteFileBytesAtomic(fileName.toUtf8().toStdString(), download.bytes);
  } catch (const std::exception& e) {
    if (error) *error = QString::fromUtf8(e.what());
    return false;
  }
  return true;
}

void TForm1::CheckForUpdate(bool silent) {
  UpdateSilent = silent;
  UpdateShowResult = false;
  QString newest = ProductVersion;
  QString link;
  const QString address = UpdateAddress();
  const QString fileName = UpdateFileName();
  QString writeError;
  if (!DownloadFile(address, fileName, &writeError)) {
    UpdateRunning = false;
    UpdateMessage = writeError.isEmpty() ? Message("StringCantConnectToServer")
                                         : Message("StringCantSaveVersionFile") + " " + writeError;
  } else {
    QFile file(fileName);
    QString first;
    if (file.open(QIODevice::ReadOnly)) first = QString::fromUtf8(file.readLine()).trimmed();
    if (first.isEmpty()) {
      UpdateMessage = Message("StringLastVersion");
    } else if (CompareVersions(first, ProductVersion) > 0) {
      newest = first;
      UpdateMessage = Message("StringNewVersionIsAvailable") + " " + first;
      link = ProductPageURL();
    } else {
      UpdateMessage = Message("StringLastVersion");
    }
  }
  UpdateLink = link;
  UpdateShowResult = CompareVersions(newest, ProductVersion) > 0 || !silent;
}

void TForm1::StartUpdateCheck() {
  if (UpdateRunning) return;
  UpdateRunning = true;
  auto* thread = new TThreadUpdate(*this);
  updateThread_ = thread;
  connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start(QThread::IdlePriority);
}

void TForm1::ShowUpdateResult() {
  // A dialog already on screen only takes the new texts.
  if (formUpdate_->isVisible()) UpdateShowResult = false;
  formUpdate_->LabelText()->setText(UpdateMessage);
  formUpdate_->LabelLink()->setText(UpdateLink);
  formUpdate_->CentreLabels();
  UpdateFinished = true;
  UpdateRunning = false;
  if (UpdateShowResult) formUpdate_->exec();
}

void TForm1::MCheckUpdateClick() {
  LoadLanguage(languageName_);
  UpdateFinished = false;
  formUpdate_->LabelText()->setText(LanguageText("FormUpdate.StringCheckingForUpdates", "Checking for updates ..."));
  formUpdate_->CentreLabels();
  formUpdate_->exec();
}

void TForm1::stopUpdateCheck() {
  if (!updateThread_) return;
  updateThread_->requestInterruption();
  updateThread_->wait();
}

// ---------------------------------------------------------------------------
// The worker

TThreadUpdate::TThreadUpdate(TForm1& main) : main_(main) {}

void TThreadUpdate::run() {
  main_.CheckForUpdate(true);
  if (isInterruptionRequested()) return;
  QMetaObject::invokeMethod(&main_, [main = &main_] { main->ShowUpdateResult(); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// The dialog

TFormUpdate::TFormUpdate(TForm1& main) : TAppDialog(main, "FormUpdate", "Software Update") {
  auto* column = new QVBoxLayout(this);
  labelText_ = new QLabel(this);
  labelText_->setObjectName("LabelText");
  labelLink_ = new QLabel(this);
  labelLink_->setObjectName("LabelLink");
  labelLink_->setStyleSheet("color: blue");
  labelLink_->setCursor(Qt::PointingHandCursor);
  labelLink_->installEventFilter(this);
  labelLink_->setMouseTracking(true);
  setMouseTracking(true);
  column->addWidget(labelText_, 0, Qt::AlignHCenter);
  column->addWidget(labelLink_, 0, Qt::AlignHCenter);
  QPushButton* check = nullptr;
  column->addLayout(ButtonRow({{"ButtonCheck", "Check"}, {"ButtonClose", "Close"}}, &check));
  setMinimumWidth(360);
  connect(check, &QPushButton::clicked, this, Guarded(main_, this, &TFormUpdate::ButtonCheckClick));
}

void TFormUpdate::CentreLabels() {
  // The layout centres both labels; their sizes follow their texts.
  labelText_->adjustSize();
  labelLink_->adjustSize();
}

void TFormUpdate::showEvent(QShowEvent* event) {
  labelLink_->clear();
  TAppDialog::showEvent(event);
  // A result shown by the check itself must not start another.
  if (!main_.UpdateRunning && !main_.UpdateFinished) main_.StartUpdateCheck();
}

void TFormUpdate::ButtonCheckClick() {
  if (main_.UpdateRunning) return;
  labelText_->setText(main_.LanguageText("FormUpdate.StringCheckingForUpdates", "Checking for updates ..."));
  CentreLabels();
  main_.StartUpdateCheck();
}

bool TFormUpdate::eventFilter(QObject* watched, QEvent* event) {
  if (watched == labelLink_) {
    if (event->type() == QEvent::Enter) labelLink_->setStyleSheet("color: red");
    if (event->type() == QEvent::Leave) labelLink_->setStyleSheet("color: blue");
    if (event->type() == QEvent::MouseButtonPress && !labelLink_->text().isEmpty()) {
      const QUrl url(labelLink_->text());
      if (url.scheme() == "http" || url.scheme() == "https") QDesktopServices::openUrl(url);
      return true;
    }
  }
  return TAppDialog::eventFilter(watched, event);
}
