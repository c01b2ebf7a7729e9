// Document information keys, mirrored into the catalogue's XMP packet.
#include "document/PavonaDocument.h"
#include "document/PavonaXMP.h"

std::u16string TPDFDocument::GetInfo(std::string_view key) {
  TPDFObject* value = GetInfoDictionary()->GetValue(key, true);
  if (TPDFString* s = PDFAsString(value)) return PDFTextToWide(s->GetValue());
  if (TPDFStream* s = PDFAsStream(value)) return PDFTextToWide(s->GetDecodedData());
  return {};
}

void TPDFDocument::SetInfo(std::string_view key, std::u16string_view text) {
  TPDFDictionary* info = GetInfoDictionary();
  const std::string bytes = WideToPDFText(text);
  TPDFObject* value = info->GetValue(key, true);
  if (TPDFString* s = PDFAsString(value)) {
    s->SetValue(bytes);
  } else {
    if (TPDFStream* stream = PDFAsStream(value)) stream->SetData("", false);
    info->SetValue(key, pool_->NewString(bytes));
  }

  const std::string utf8 = WideToUTF8(text);
  for (auto& [pendingKey, pendingText] : pendingInfo_) {
    if (pendingKey == key) {
      pendingText = utf8;
      return;
    }
  }
  pendingInfo_.emplace_back(key, utf8);
}

void TPDFDocument::syncMetadata() {
  if (pendingInfo_.empty()) return;
  const auto pending = std::move(pendingInfo_);
  pendingInfo_.clear();
  TPavonaXMP xmp;
  // A packet that cannot be read is left as it is.
  if (!xmp.LoadFromString(readMetadata())) return;
  for (const auto& [key, utf8] : pending) {
    if (key == "Title") {
      xmp.SetTitle(utf8);
    } else if (key == "Author") {
      xmp.SetCreator(utf8);
    } else if (key == "Subject") {
      xmp.SetDescription(utf8);
    } else if (key == "Keywords") {
      xmp.SetKeywords(utf8);
    } else if (key == "Creator") {
      xmp.SetCreatorTool(utf8);
    } else if (key == "Producer") {
      xmp.SetProducer(utf8);
    } else if (key == "CreationDate") {
      xmp.SetCreateDate(utf8);
    } else if (key == "ModDate") {
      xmp.SetModifyDate(utf8);
    }
  }
  const std::string packet = xmp.SaveToString();
  if (!packet.empty()) writeMetadata(packet);
}

std::string TPDFDocument::GetMetadata() {
  syncMetadata();
  return readMetadata();
}

void TPDFDocument::SetMetadata(std::string_view bytes) {
  pendingInfo_.clear();
  writeMetadata(bytes);
}

std::string TPDFDocument::readMetadata() {
  TPDFDictionary* catalog = PDFAsDictionary(trailer_->GetValue("Root", true));
  TPDFStream* stream = catalog ? PDFAsStream(catalog->GetValue("Metadata", true)) : nullptr;
  TPDFDictionary* dict = stream ? stream->GetDictionary() : nullptr;
  if (!dict || dict->GetNameValue("Type") != "Metadata") return {};
  const std::string subtype =
      dict->GetValue("Subtype") ? dict->GetNameValue("Subtype") : dict->GetNameValue("SubType");
  if (subtype != "XML") return {};
  return stream->GetDecodedData();
}

void TPDFDocument::writeMetadata(std::string_view bytes) {
  if (trailer_->GetValue("Encrypt")) return;
  TPDFDictionary* catalog = GetRoot();
  TPDFStream* stream = PDFAsStream(catalog->GetValue("Metadata", true));
  if (!stream) {
    stream = pool_->NewStream("", false);
    catalog->SetValue("Metadata", AddIndirectRef(stream));
  }
  TPDFDictionary* dict = stream->GetDictionary();
  if (!dict) {
    dict = pool_->NewDictionary();
    stream->SetDictionary(dict);
  }
  dict->SetValue("Type", pool_->KeyName("Metadata"));
  dict->SetValue("Subtype", pool_->KeyName("XML"));
  stream->SetData(bytes, false);
}
