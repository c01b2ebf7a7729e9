// XMP metadata packets: read, edit and write the catalogue's metadata
// packet, mirroring the document information keys into the Dublin Core, XMP
// basic and PDF schemas. The XML is handled by libxml2.
#pragma once

#include <array>
#include <string>
#include <string_view>

struct _xmlDoc;
struct _xmlNode;

class TPavonaXMP {
public:
  TPavonaXMP();
  ~TPavonaXMP();
  TPavonaXMP(const TPavonaXMP&) = delete;
  TPavonaXMP& operator=(const TPavonaXMP&) = delete;

  // Parses a packet (UTF-8). Empty bytes, or a document without x:xmpmeta,
  // give a new packet. False when the bytes are not well-formed XML: the
  // object is then inert (setters do nothing, the output is empty), so that
  // a packet we cannot read is never replaced.
  bool LoadFromString(std::string_view bytes);
  // The packet: the xpacket wrapper, the indented XML and 1024 bytes of
  // padding before the closing wrapper; empty when there is no packet.
  std::string SaveToString() const;

  // Values are UTF-8. A value equal to the last one set (or, for the
  // creator, the one loaded) changes nothing.
  void SetTitle(std::string_view value) { setProperty(xpTitle, value); }
  void SetCreator(std::string_view value) { setProperty(xpCreator, value); }
  void SetDescription(std::string_view value) { setProperty(xpDescription, value); }
  void SetKeywords(std::string_view value) { setProperty(xpKeywords, value); }
  void SetCreatorTool(std::string_view value) { setProperty(xpCreatorTool, value); }
  void SetProducer(std::string_view value) { setProperty(xpProducer, value); }
  // PDF dates ("D:YYYYMMDDHHmmSS+hh'mm'") are written in the XMP form.
  void SetCreateDate(std::string_view value) { setProperty(xpCreateDate, ConvertDate(value)); }
  void SetModifyDate(std::string_view value) { setProperty(xpModifyDate, ConvertDate(value)); }

  bool IsUnavailable() const { return unavailable_; }
  // The XMP form of a PDF date; any other text as it is.
  static std::string ConvertDate(std::string_view value);

private:
  enum TProperty { xpTitle, xpCreator, xpDescription, xpKeywords, xpCreatorTool, xpProducer, xpCreateDate,
                   xpModifyDate, xpFormat, xpCount };
  void newPacket();
  void clear();
  void setProperty(TProperty property, std::string_view value, bool force = false);

  _xmlDoc* doc_ = nullptr;
  _xmlNode* xmpmeta_ = nullptr;
  _xmlNode* rdf_ = nullptr;
  bool unavailable_ = false;
  std::array<std::string, xpCount> last_;
};
