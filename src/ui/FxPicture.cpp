#include "ui/FxPicture.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <fstream>
#include <iterator>

#include "platform/Classes.h"
#include "ui/FxGDIP.h"

namespace {
// Pictures are small glyphs; a file beyond this is not an image for a button.
constexpr int64_t kMaxPictureBytes = int64_t{64} << 20;
}  // namespace

bool DrawKeyedBitmap(QImage& canvas, std::string_view bytes, int x, int y, const QRect& dest) {
  QImage image;
  if (bytes.empty() ||
      !image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size())))
    return false;
  image = image.convertToFormat(QImage::Format_ARGB32);
  QRgb key = image.pixel(0, image.height() - 1);
  for (int row = 0; row < image.height(); ++row) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
    for (int col = 0; col < image.width(); ++col)
      if (line[col] == key) line[col] = 0;
  }
  QPainter painter(&canvas);
  if (dest.isValid())
    painter.drawImage(dest, image);
  else
    painter.drawImage(x, y, image);
  return true;
}

void TFxPicture::SetBytes(std::string bytes) {
  data_ = std::move(bytes);
  empty_ = data_.empty();
}

void TFxPicture::Assign(const TFxPicture* source) {
  empty_ = true;
  if (!source) {
    data_.clear();
    width_ = height_ = 0;
    Changed();
    if (OnClear) OnClear(this);
    return;
  }
  if (source != this) SetBytes(source->data_);
  empty_ = data_.empty();
  Changed();
  MeasureImage();
}

void TFxPicture::Assign(const QImage* bitmap) {
  if (!bitmap) {
    AssignNothing();
    return;
  }
  empty_ = true;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!bitmap->isNull() && bitmap->save(&buffer, "BMP")) {
    SetBytes(bytes.toStdString());
    empty_ = false;
    Changed();
  }
  MeasureImage();
}

bool TFxPicture::MeasureImage() {
  if (GetEmpty()) return false;
  TGPImage image(data_);
  width_ = static_cast<int>(image.GetWidth());
  height_ = static_cast<int>(image.GetHeight());
  return true;
}

void TFxPicture::Draw(QImage& canvas, const QRect& rect) {
  if (GetEmpty()) return;
  TGPImage image(data_);
  if (image.GetFormat() == ifBMP) {
    DrawKeyedBitmap(canvas, data_, rect.left(), rect.top());
    return;
  }
  width_ = static_cast<int>(image.GetWidth());
  height_ = static_cast<int>(image.GetHeight());
  TGPGraphics graphics(canvas);
  graphics.DrawImage(&image, rect.left(), rect.top(), rect.width(), rect.height());
}

void TFxPicture::ReadData(TStream& stream) {
  stream.SetPosition(0);
  SetBytes(stream.ReadAll());
  empty_ = false;
}

void TFxPicture::WriteData(TStream& stream) const { stream.WriteString(data_); }
void TFxPicture::SaveToStream(TStream* stream) const {
  if (stream) stream->WriteString(data_);
}

void TFxPicture::LoadFromStream(TStream* stream) {
  if (!stream) return;
  stream->SetPosition(0);
  SetBytes(stream->ReadAll());
  empty_ = false;
  MeasureImage();
  Changed();
}

void TFxPicture::LoadFromFile(const std::string& fileName) {
  try {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw EFOpenError("Cannot open file \"" + fileName + "\"");
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0 || size > kMaxPictureBytes) throw EReadError("Picture file too large");
    in.seekg(0);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!in.read(bytes.data(), size)) throw EReadError("Stream read error");
    SetBytes(std::move(bytes));
    empty_ = false;
    if (OnClear) OnClear(this);
    MeasureImage();
    Changed();
  } catch (const std::exception&) {
    empty_ = true;
  }
}

void TFxPicture::LoadFromResourceName(const std::string& resourceName) {
  QFile file(QString::fromStdString(":/" + resourceName));
  if (!file.open(QIODevice::ReadOnly)) return;
  TMemoryStream stream(file.readAll().toStdString());
  LoadFromStream(&stream);
}
