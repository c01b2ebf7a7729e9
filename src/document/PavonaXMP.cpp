#include "document/PavonaXMP.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlversion.h>

#include <algorithm>
#include <cstring>

#include "platform/RuntimeLibrary.h"

namespace {

// libxml2 is loaded the first time a packet is read or written, not at
// start. The entry points used:
#define PVL_XML_ENTRIES(X)  \
  X(xmlFreeDoc)             \
  X(xmlNewDoc)              \
  X(xmlNewDocPI)            \
  X(xmlNewDocNode)          \
  X(xmlSetNs)               \
  X(xmlNewNs)               \
  X(xmlDocSetRootElement)   \
  X(xmlAddPrevSibling)      \
  X(xmlAddNextSibling)      \
  X(xmlNewChild)            \
  X(xmlSetGenericErrorFunc) \
  X(xmlReadMemory)          \
  X(xmlDocGetRootElement)   \
  X(xmlSearchNsByHref)      \
  X(xmlNodeGetContent)      \
  X(xmlUnlinkNode)          \
  X(xmlFreeNode)            \
  X(xmlNodeAddContent)      \
  X(xmlNodeSetLang)         \
  X(xmlKeepBlanksDefault)   \
  X(xmlDocDumpFormatMemoryEnc)
// The versioned name of the library the headers describe.
constexpr const char* kXmlLibrary = LIBXML_VERSION >= 21400 ? "libxml2.so.16" : "libxml2.so.2";

struct TXmlLibrary {
#define PVL_XML_SLOT(name) decltype(&::name) name = nullptr;
  PVL_XML_ENTRIES(PVL_XML_SLOT)
#undef PVL_XML_SLOT
  // The library's deallocator is a variable (a macro in the headers).
  xmlFreeFunc* freeMemory = nullptr;
  // Empty when every entry point is bound.
  std::string error;
};

// Bound once, on first use (thread-safe as a function-local static).
const TXmlLibrary& Xml() {
  static const auto bound = BindRuntimeLibrary<TXmlLibrary>(kXmlLibrary, [](TRuntimeLibrary& lib, TXmlLibrary& t) {
#define PVL_XML_BIND(name) lib.Bind(#name, t.name);
    PVL_XML_ENTRIES(PVL_XML_BIND)
#undef PVL_XML_BIND
    lib.Bind("xmlFree", t.freeMemory);
  });
  return bound;
}

constexpr const char* kNsMeta = "adobe:ns:meta/";
constexpr const char* kNsRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr const char* kNsDc = "http://purl.org/dc/elements/1.1/";
constexpr const char* kNsXmp = "http://ns.adobe.com/xap/1.0/";
constexpr const char* kNsPdf = "http://ns.adobe.com/pdf/1.3/";
// The byte-order mark that opens every packet wrapper.
constexpr const char* kPacketBegin = "begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"";

enum class TValueKind { vkText, vkAlt, vkBag };

struct TPropertyInfo {
  const char* ns;
  const char* prefix;
  const char* name;
  TValueKind kind;
};

// In the order of TPavonaXMP::TProperty.
constexpr TPropertyInfo kProperties[] = {
    {kNsDc, "dc", "title", TValueKind::vkAlt},
    {kNsDc, "dc", "creator", TValueKind::vkBag},
    {kNsDc, "dc", "description", TValueKind::vkAlt},
    {kNsPdf, "pdf", "Keywords", TValueKind::vkText},
    {kNsXmp, "xmp", "CreatorTool", TValueKind::vkText},
    {kNsPdf, "pdf", "Producer", TValueKind::vkText},
    {kNsXmp, "xmp", "CreateDate", TValueKind::vkText},
    {kNsXmp, "xmp", "ModifyDate", TValueKind::vkText},
    {kNsDc, "dc", "format", TValueKind::vkText},
};

const xmlChar* X(const char* s) {
  return reinterpret_cast<const xmlChar*>(s);
}

bool isElement(xmlNode* node, const char* ns, const char* local) {
  return node && node->type == XML_ELEMENT_NODE && node->ns && node->ns->href &&
         std::strcmp(reinterpret_cast<const char*>(node->ns->href), ns) == 0 &&
         std::strcmp(reinterpret_cast<const char*>(node->name), local) == 0;
}

xmlNode* firstChild(xmlNode* parent, const char* ns, const char* local) {
  for (xmlNode* c = parent ? parent->children : nullptr; c; c = c->next) {
    if (isElement(c, ns, local)) return c;
  }
  return nullptr;
}

// True when the node declares a namespace prefix for ns.
bool declares(xmlNode* node, const char* ns) {
  for (xmlNs* d = node->nsDef; d; d = d->next) {
    if (d->prefix && d->href && std::strcmp(reinterpret_cast<const char*>(d->href), ns) == 0) return true;
  }
  return false;
}

// Silences libxml2's error output for packets read from files.
void quietErrors(void*, const char*, ...) {}

}  // namespace

TPavonaXMP::TPavonaXMP() {
  newPacket();
}

TPavonaXMP::~TPavonaXMP() {
  clear();
}

void TPavonaXMP::clear() {
  if (doc_) Xml().xmlFreeDoc(doc_);
  doc_ = nullptr;
  xmpmeta_ = rdf_ = nullptr;
  for (std::string& s : last_) s.clear();
}

void TPavonaXMP::newPacket() {
  const TXmlLibrary& xml = Xml();
  clear();
  unavailable_ = !xml.error.empty();
  if (unavailable_) return;
  doc_ = xml.xmlNewDoc(X("1.0"));
  if (!doc_) {
    unavailable_ = true;
    return;
  }
  xmlNode* begin = xml.xmlNewDocPI(doc_, X("xpacket"), X(kPacketBegin));
  xmpmeta_ = xml.xmlNewDocNode(doc_, nullptr, X("xmpmeta"), nullptr);
  xml.xmlSetNs(xmpmeta_, xml.xmlNewNs(xmpmeta_, X(kNsMeta), X("x")));
  xml.xmlDocSetRootElement(doc_, xmpmeta_);
  xml.xmlAddPrevSibling(xmpmeta_, begin);
  xml.xmlAddNextSibling(xmpmeta_, xml.xmlNewDocPI(doc_, X("xpacket"), X("end=\"w\"")));
  rdf_ = xml.xmlNewChild(xmpmeta_, nullptr, X("RDF"), nullptr);
  xml.xmlSetNs(rdf_, xml.xmlNewNs(rdf_, X(kNsRdf), X("rdf")));
  setProperty(xpFormat, "application/pdf", true);
  for (TProperty p : {xpCreator, xpDescription, xpTitle, xpCreatorTool, xpCreateDate, xpModifyDate, xpKeywords,
                      xpProducer}) {
    setProperty(p, "", true);
  }
}

bool TPavonaXMP::LoadFromString(std::string_view bytes) {
  const TXmlLibrary& xml = Xml();
  // Without libxml2 no packet is read or written, as for one that is not
  // well-formed.
  if (!xml.error.empty()) {
    clear();
    unavailable_ = true;
    return false;
  }
  if (bytes.empty()) {
    newPacket();
    return true;
  }
  clear();
  xml.xmlSetGenericErrorFunc(nullptr, quietErrors);
  // No network, no entity expansion, no DTD loading: a packet from a file is
  // read as plain data.
  xmlDoc* doc =
      xml.xmlReadMemory(bytes.data(), static_cast<int>(std::min<size_t>(bytes.size(), 1u << 30)), nullptr, "UTF-8",
                        XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  xml.xmlSetGenericErrorFunc(nullptr, nullptr);
  if (!doc) {
    unavailable_ = true;
    return false;
  }
  xmlNode* root = xml.xmlDocGetRootElement(doc);
  if (!isElement(root, kNsMeta, "xmpmeta")) {
    xml.xmlFreeDoc(doc);
    newPacket();
    return true;
  }
  unavailable_ = false;
  doc_ = doc;
  xmpmeta_ = root;
  rdf_ = firstChild(root, kNsRdf, "RDF");
  if (!rdf_) {
    rdf_ = xml.xmlNewChild(root, nullptr, X("RDF"), nullptr);
    xmlNs* ns = xml.xmlSearchNsByHref(doc_, rdf_, X(kNsRdf));
    xml.xmlSetNs(rdf_, ns ? ns : xml.xmlNewNs(rdf_, X(kNsRdf), X("rdf")));
  }
  // The creator of the packet is remembered, so that setting the same
  // author again leaves it alone.
  for (xmlNode* d = rdf_->children; d; d = d->next) {
    if (!isElement(d, kNsRdf, "Description")) continue;
    xmlNode* li = firstChild(firstChild(firstChild(d, kNsDc, "creator"), kNsRdf, "Bag"), kNsRdf, "li");
    if (li) {
      xmlChar* text = xml.xmlNodeGetContent(li);
      if (text) {
        last_[xpCreator] = reinterpret_cast<const char*>(text);
        (*xml.freeMemory)(text);
      }
      break;
    }
    if (firstChild(d, kNsDc, "creator")) break;
  }
  return true;
}

void TPavonaXMP::setProperty(TProperty property, std::string_view value, bool force) {
  const TXmlLibrary& xml = Xml();
  if (unavailable_ || !rdf_) return;
  if (!force && value == last_[property]) return;
  last_[property] = value;
  const TPropertyInfo& info = kProperties[property];
  xmlNode* description = nullptr;
  for (xmlNode* d = rdf_->children; d && !description; d = d->next) {
    if (isElement(d, kNsRdf, "Description") && declares(d, info.ns)) description = d;
  }
  if (!description) {
    description = xml.xmlNewChild(rdf_, rdf_->ns, X("Description"), nullptr);
    xml.xmlNewNs(description, X(info.ns), X(info.prefix));
  }
  xmlNs* ns = xml.xmlSearchNsByHref(doc_, description, X(info.ns));
  xmlNs* rdfNs = xml.xmlSearchNsByHref(doc_, description, X(kNsRdf));
  if (xmlNode* old = firstChild(description, info.ns, info.name)) {
    xml.xmlUnlinkNode(old);
    xml.xmlFreeNode(old);
  }
  const std::string text(value);
  xmlNode* element = xml.xmlNewChild(description, ns, X(info.name), nullptr);
  switch (info.kind) {
    case TValueKind::vkText:
      xml.xmlNodeAddContent(element, X(text.c_str()));
      break;
    case TValueKind::vkAlt: {
      xmlNode* alt = xml.xmlNewChild(element, rdfNs, X("Alt"), nullptr);
      xmlNode* li = xml.xmlNewChild(alt, rdfNs, X("li"), nullptr);
      xml.xmlNodeSetLang(li, X("x-default"));
      xml.xmlNodeAddContent(li, X(text.c_str()));
      break;
    }
    case TValueKind::vkBag: {
      xmlNode* bag = xml.xmlNewChild(element, rdfNs, X("Bag"), nullptr);
      xmlNode* li = xml.xmlNewChild(bag, rdfNs, X("li"), nullptr);
      xml.xmlNodeAddContent(li, X(text.c_str()));
      break;
    }
  }
}

std::string TPavonaXMP::ConvertDate(std::string_view value) {
  if (value.substr(0, 2) != "D:") return std::string(value);
  // 1-based positions of the PDF date form.
  auto mid = [&](size_t from, size_t count) {
    return from - 1 < value.size() ? std::string(value.substr(from - 1, count)) : std::string();
  };
  std::string out = mid(3, 4) + "-" + mid(7, 2) + "-" + mid(9, 2) + "T" + mid(11, 2) + ":" + mid(13, 2) + ":" +
                    mid(15, 5);
  // Without zone minutes (a date in UTC, "Z") no separator is left dangling.
  const std::string minutes = mid(21, 2);
  if (!minutes.empty()) out += ":" + minutes;
  return out;
}

std::string TPavonaXMP::SaveToString() const {
  const TXmlLibrary& xml = Xml();
  if (unavailable_ || !doc_) return {};
  xmlChar* buffer = nullptr;
  int size = 0;
  const int keep = xml.xmlKeepBlanksDefault(0);
  xml.xmlDocDumpFormatMemoryEnc(doc_, &buffer, &size, "UTF-8", 1);
  xml.xmlKeepBlanksDefault(keep);
  if (!buffer) return {};
  std::string out(reinterpret_cast<const char*>(buffer), static_cast<size_t>(std::max(size, 0)));
  (*xml.freeMemory)(buffer);
  // What comes before the opening wrapper (the XML declaration) goes. A
  // packet read without an opening wrapper before its root (an end wrapper
  // alone, or one after the root) keeps its XML whole.
  std::string root = "<";
  if (xmpmeta_->ns && xmpmeta_->ns->prefix)
    root += reinterpret_cast<const char*>(xmpmeta_->ns->prefix) + std::string(":");
  root += reinterpret_cast<const char*>(xmpmeta_->name);
  const size_t begin = out.find("<?xpacket begin");
  if (begin != std::string::npos && begin < out.find(root)) out.erase(0, begin);
  const size_t end = out.rfind("<?xpacket end=");
  if (end != std::string::npos) out.insert(end, std::string(1023, ' ') + "\n");
  return out;
}
