// A graphic that keeps an image file's bytes exactly as loaded and draws them
// through GDI+; the pictures of the glow button and the pager.
#pragma once

#include <QImage>
#include <QRect>
#include <functional>
#include <string>
#include <string_view>

class TStream;

class TFxPicture {
public:
  using TNotifyEvent = std::function<void(TFxPicture* sender)>;

  TFxPicture() = default;
  TFxPicture(const TFxPicture&) = delete;
  TFxPicture& operator=(const TFxPicture&) = delete;

  // No source clears the picture; a bitmap source is stored as a BMP file.
  void Assign(const TFxPicture* source);
  void Assign(const QImage* bitmap);
  void AssignNothing() { Assign(static_cast<const TFxPicture*>(nullptr)); }

  // Draws on a premultiplied 32-bit canvas: a BMP unscaled at the rectangle's
  // top-left with its bottom-left pixel colour transparent, anything else
  // stretched into the rectangle.
  void Draw(QImage& canvas, const QRect& rect);
  bool GetEmpty() const { return empty_ || data_.empty(); }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  // The size always comes from the image.
  void SetWidth(int) {}
  void SetHeight(int) {}

  void ReadData(TStream& stream);
  void WriteData(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  void LoadFromStream(TStream* stream);
  void SaveToStream(TStream* stream) const;
  // Loads the bytes of a compiled-in resource (":/" name); nothing when absent.
  void LoadFromResourceName(const std::string& resourceName);
  // Clipboard formats are not supported.
  void LoadFromClipboardFormat() {}
  void SaveToClipboardFormat() {}

  // Reads width and height from the bytes; false when there are none.
  bool MeasureImage();

  const std::string& Data() const { return data_; }

  TNotifyEvent OnChange;  // the graphic's change event
  TNotifyEvent OnClear;

private:
  void Changed() {
    if (OnChange) OnChange(this);
  }
  void SetBytes(std::string bytes);

  std::string data_;
  bool empty_ = true;
  int width_ = 0;
  int height_ = 0;
};

// Draws image-file bytes keyed like a class-library bitmap with automatic
// transparency: the bottom-left pixel's colour is not drawn. The bytes are
// drawn at natural size at (x, y), or stretched into dest when it is valid.
// False when the bytes are not a decodable bitmap.
bool DrawKeyedBitmap(QImage& canvas, std::string_view bytes, int x, int y, const QRect& dest = QRect());
