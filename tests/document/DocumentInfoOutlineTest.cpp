// Document information with its XMP mirror, outlines and named
// destinations, and embedded files; saved files checked by qpdf.
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "document/PavonaDocument.h"
#include "document/PavonaNameTree.h"
#include "document/PavonaXMP.h"

namespace {

using pvltest::HaveTool;
using pvltest::RunCommand;
using pvltest::TempDir;

std::unique_ptr<TPDFDocument> newDocument() {
  auto doc = std::make_unique<TPDFDocument>();
  doc->InitNewDocument();
  return doc;
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

TEST(DocumentInfo, TitleCreatesAFullPacket) {
  auto doc = newDocument();
  doc->SetInfo("Title", u"Caf\u00e9 \u4e2d\u6587");
  EXPECT_EQ(doc->GetInfo("Title"), u"Caf\u00e9 \u4e2d\u6587");
  const std::string packet = doc->GetMetadata();
  ASSERT_FALSE(packet.empty());
  EXPECT_EQ(packet.rfind("<?xpacket begin=", 0), 0u);
  EXPECT_NE(packet.find("W5M0MpCehiHzreSzNTczkc9d"), std::string::npos);
  EXPECT_NE(packet.find("<dc:format>application/pdf</dc:format>"), std::string::npos);
  EXPECT_NE(packet.find("<rdf:li xml:lang=\"x-default\">Caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87</rdf:li>"),
            std::string::npos);
  // 1023 spaces and a line feed just before the closing wrapper.
  const size_t end = packet.rfind("<?xpacket end=\"w\"?>");
  ASSERT_NE(end, std::string::npos);
  ASSERT_GE(end, 1024u);
  EXPECT_EQ(packet.substr(end - 1024, 1024), std::string(1023, ' ') + "\n");
  EXPECT_EQ(occurrences(packet, "<rdf:Description"), 3u);
  for (const char* p : {"dc:creator", "dc:description", "xmp:CreatorTool", "xmp:CreateDate", "xmp:ModifyDate",
                        "pdf:Keywords", "pdf:Producer"}) {
    EXPECT_NE(packet.find(std::string("<") + p), std::string::npos) << p;
  }
  TPDFDictionary* catalog = doc->GetRoot();
  TPDFStream* stream = catalog->GetStream("Metadata");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->GetDictionary()->GetNameValue("Subtype"), "XML");
  EXPECT_EQ(stream->GetDictionary()->GetValue("Filter"), nullptr);
  // xmllint reads the packet as well-formed XML.
  if (HaveTool("xmllint")) {
    TempDir dir;
    pvltest::WriteFile(dir.File("p.xml"), packet);
    EXPECT_EQ(RunCommand({"xmllint", "--noout", dir.File("p.xml")}).exitCode, 0);
  }
}

TEST(DocumentInfo, PropertiesMappedAndRewrittenOnlyWhenChanged) {
  auto doc = newDocument();
  struct Case {
    const char* key;
    std::u16string value;
    const char* element;
    const char* xmp;
  };
  const std::vector<Case> cases = {
      {"Author", u"Ann", "dc:creator", "<rdf:li>Ann</rdf:li>"},
      {"Subject", u"About", "dc:description", ">About</rdf:li>"},
      {"Keywords", u"k1, k2", "pdf:Keywords", "<pdf:Keywords>k1, k2</pdf:Keywords>"},
      {"Creator", u"Tool", "xmp:CreatorTool", "<xmp:CreatorTool>Tool</xmp:CreatorTool>"},
      {"Producer", u"Prod", "pdf:Producer", "<pdf:Producer>Prod</pdf:Producer>"},
      {"CreationDate", u"D:20240102030405+05'30'", "xmp:CreateDate",
       "<xmp:CreateDate>2024-01-02T03:04:05+05:30</xmp:CreateDate>"},
      {"ModDate", u"D:20240102030405Z", "xmp:ModifyDate", "<xmp:ModifyDate>2024-01-02T03:04:05Z</xmp:ModifyDate>"},
      {"ModDate", u"yesterday", "xmp:ModifyDate", "<xmp:ModifyDate>yesterday</xmp:ModifyDate>"},
  };
  for (const Case& c : cases) {
    doc->SetInfo(c.key, c.value);
    const std::string packet = doc->GetMetadata();
    EXPECT_NE(packet.find(c.xmp), std::string::npos) << c.key << "\n" << packet;
    EXPECT_EQ(occurrences(packet, std::string("<") + c.element + ">"), 1u) << c.key;
    EXPECT_EQ(doc->GetInfo(c.key), c.value);
  }
  // The same author again: the packet's creator element stays where it was
  // (a rewrite would move it to the end of its description).
  const std::string before = doc->GetMetadata();
  doc->SetInfo("Author", u"Ann");
  EXPECT_EQ(doc->GetMetadata(), before);
  // Another key changes Info only; the packet is written again unchanged.
  doc->SetInfo("Trapped", u"False");
  EXPECT_EQ(doc->GetInfo("Trapped"), u"False");
  EXPECT_EQ(doc->GetMetadata(), before);
  // A loaded packet keeps its author: setting it to the same text is no change.
  TPavonaXMP xmp;
  ASSERT_TRUE(xmp.LoadFromString(before));
  xmp.SetCreator("Ann");
  EXPECT_EQ(xmp.SaveToString(), before);
}

TEST(DocumentInfo, UnreadablePacketsAndEncryptedDocuments) {
  auto doc = newDocument();
  doc->SetMetadata("<x:xmpmeta xmlns:x='adobe:ns:meta/'><unclosed>");
  doc->SetInfo("Title", u"New");
  EXPECT_EQ(doc->GetInfo("Title"), u"New");
  EXPECT_EQ(doc->GetMetadata(), "<x:xmpmeta xmlns:x='adobe:ns:meta/'><unclosed>");
  // A packet without x:xmpmeta is replaced by a new one.
  doc->SetMetadata("<?xml version='1.0'?><other/>");
  doc->SetInfo("Title", u"Newer");
  EXPECT_NE(doc->GetMetadata().find(">Newer</rdf:li>"), std::string::npos);
  // An entity that would expand is not followed.
  TPavonaXMP xmp;
  EXPECT_TRUE(xmp.LoadFromString("<!DOCTYPE x [<!ENTITY e SYSTEM 'file:///etc/passwd'>]>"
                                 "<x:xmpmeta xmlns:x='adobe:ns:meta/'>&e;</x:xmpmeta>"));
  EXPECT_EQ(xmp.SaveToString().find("root:"), std::string::npos);

  TPDFDocument enc;
  ASSERT_EQ(enc.LoadFromString(pvltest::ReadFile(pvltest::CorpusPath("pdfjs/issue6010_1.pdf")), u"abc"), 0);
  const std::string packet = enc.GetMetadata();
  enc.SetInfo("Title", u"Changed");
  EXPECT_EQ(enc.GetInfo("Title"), u"Changed");
  EXPECT_EQ(enc.GetMetadata(), packet);
}

// Packets whose opening wrapper is missing or comes after the root (found
// by fuzz_xmp): the text before the first "<?xpacket" was cut off, which
// left only padding and the end wrapper, so an edit wiped the metadata.
// Every packet keeps its XML and still parses once written.
TEST(DocumentInfo, PacketsWithoutAnOpeningWrapperBeforeTheRootKeepTheirXml) {
  const std::string meta =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
      "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'/></x:xmpmeta>";
  struct Case {
    std::string packet;
    bool wrapped;  // the output starts with the opening wrapper
  };
  const Case cases[] = {
      {"<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>" + meta + "<?xpacket end='w'?>", true},
      {meta + "<?xpacket end='w'?>", false},
      {"<?xpackdt begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>" + meta + "<?xpacket end='w'?>", false},
      {meta + "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.packet);
    TPavonaXMP xmp;
    ASSERT_TRUE(xmp.LoadFromString(c.packet));
    xmp.SetTitle("Kept");
    const std::string out = xmp.SaveToString();
    EXPECT_NE(out.find("<x:xmpmeta"), std::string::npos) << out;
    EXPECT_NE(out.find(">Kept</rdf:li>"), std::string::npos) << out;
    EXPECT_EQ(out.rfind("<?xpacket begin", 0) == 0, c.wrapped) << out;
    TPavonaXMP again;
    EXPECT_TRUE(again.LoadFromString(out)) << out;
  }
}

TEST(DocumentInfo, PacketFollowsTheInformationWhenSavedOrEncrypted) {
  // Information set and never read back still reaches the saved packet,
  // also when the document is encrypted afterwards (the packet of an
  // encrypted document is not rewritten, so it must be written before).
  struct Case {
    const char* name;
    int32_t strength;  // -1: saved plain
  };
  for (const Case& c : {Case{"plain", -1}, Case{"RC4 128", 1}, Case{"AES-256", 3}}) {
    SCOPED_TRACE(c.name);
    auto doc = newDocument();
    doc->SetInfo("Title", u"First");
    doc->SetInfo("Author", u"Ann");
    doc->SetInfo("Title", u"Caf\u00e9");
    if (c.strength >= 0) {
      ASSERT_TRUE(doc->SetEncryption(u"owner", u"user", 15, 15, c.strength));
      doc->SetInfo("Subject", u"After encryption");
    }
    const std::string bytes = doc->SaveToString();
    ASSERT_FALSE(bytes.empty());
    TPDFDocument reread;
    ASSERT_EQ(reread.LoadFromString(bytes, c.strength >= 0 ? u"user" : u""), 0);
    const std::string packet = reread.GetMetadata();
    EXPECT_NE(packet.find(">Caf\xC3\xA9</rdf:li>"), std::string::npos) << packet;
    EXPECT_EQ(packet.find(">First</rdf:li>"), std::string::npos);
    EXPECT_NE(packet.find("Ann"), std::string::npos);
    EXPECT_EQ(packet.find("After encryption"), std::string::npos);
    EXPECT_EQ(reread.GetInfo("Title"), u"Caf\u00e9");
  }
  // A packet given whole replaces information not yet mirrored.
  auto doc = newDocument();
  doc->SetInfo("Title", u"Dropped");
  doc->SetMetadata("<?xml version='1.0'?><given/>");
  EXPECT_EQ(doc->GetMetadata(), "<?xml version='1.0'?><given/>");
  EXPECT_EQ(doc->GetInfo("Title"), u"Dropped");
}

TEST(DocumentInfo, LoadedCorpusPacketIsEditedInPlace) {
  // A corpus file with a packet: setting the title keeps the other properties.
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    TPDFDocument doc;
    if (doc.LoadFromString(pvltest::ReadFile(path), u"") != 0 || doc.GetEncryptionStatus() != 0) continue;
    const std::string packet = doc.GetMetadata();
    if (packet.find("dc:format") == std::string::npos || packet.find("rdf:Description") == std::string::npos)
      continue;
    TPavonaXMP probe;
    if (!probe.LoadFromString(packet)) continue;
    SCOPED_TRACE(path);
    doc.SetInfo("Title", u"Edited title");
    const std::string after = doc.GetMetadata();
    EXPECT_NE(after.find(">Edited title</rdf:li>"), std::string::npos);
    EXPECT_NE(after.find("dc:format"), std::string::npos);
    TempDir dir;
    pvltest::WriteFile(dir.File("out.pdf"), doc.SaveToString());
    if (HaveTool("qpdf")) {
      EXPECT_EQ(RunCommand({"qpdf", "--check", dir.File("out.pdf")}).exitCode, 0);
    }
    return;
  }
  GTEST_SKIP() << "no corpus file with a readable packet";
}

TEST(DocumentOutline, AddNumberRemoveAndCounts) {
  auto doc = newDocument();
  EXPECT_EQ(doc->GetOutlineCount(), 0);
  TPDFIndRef* root = doc->GetOutlineRoot();
  TPDFDictionary* rootDict = root->Resolve()->AsDictionary();
  TPDFIndRef* a = doc->NewOutline(nullptr, u"A", 700, 1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(rootDict->GetValue("First")->WriteText(), a->WriteText());
  EXPECT_EQ(rootDict->GetValue("Last")->WriteText(), a->WriteText());
  EXPECT_EQ(rootDict->GetInteger("Count", -99), 1);
  // Destination: the page's reference, or the page number - 1 beyond the pages.
  TPDFArray* dest = PDFAsArray(doc->GetOutlineDest(a));
  ASSERT_NE(dest, nullptr);
  EXPECT_EQ(dest->WriteText(), "[ 2 0 R /XYZ 0 700 0 ]");
  TPDFIndRef* b = doc->NewOutline(nullptr, u"B", 10, 5);
  EXPECT_EQ(PDFAsArray(doc->GetOutlineDest(b))->WriteText(), "[ 4 /XYZ 0 10 0 ]");
  doc->NewChildOutline(a, u"A1");
  doc->NewChildOutline(a, u"A2");
  // Depth-first order: A, A1, A2, B.
  ASSERT_EQ(doc->GetOutlineCount(), 4);
  const char16_t* titles[] = {u"A", u"A1", u"A2", u"B"};
  for (int32_t n = 1; n <= 4; ++n) EXPECT_EQ(doc->GetOutlineTitle(doc->GetOutlineItem(n)), titles[n - 1]);
  EXPECT_EQ(doc->GetOutlineItem(0), nullptr);
  EXPECT_EQ(doc->GetOutlineItem(5), nullptr);
  EXPECT_EQ(rootDict->GetInteger("Count", 0), 4);
  TPDFDictionary* aDict = a->Resolve()->AsDictionary();
  EXPECT_EQ(aDict->GetInteger("Count", 0), 2);

  // A closed item (negative Count) gets more negative; open ancestors rise.
  aDict->SetValue("Count", doc->GetPool().NewNumeric(-2));
  doc->NewChildOutline(a, u"A3");
  EXPECT_EQ(aDict->GetInteger("Count", 0), -3);
  EXPECT_EQ(rootDict->GetInteger("Count", 0), 5);

  // Removing a closed item takes one visible item from its parent.
  EXPECT_TRUE(doc->RemoveOutline(a));
  EXPECT_EQ(rootDict->GetInteger("Count", 0), 4);
  EXPECT_EQ(rootDict->GetValue("First")->WriteText(), b->WriteText());
  EXPECT_EQ(b->Resolve()->AsDictionary()->GetValue("Prev"), nullptr);
  EXPECT_EQ(doc->GetOutlineCount(), 1);
  // Removing the only child leaves its parent without First and Last.
  TPDFIndRef* b1 = doc->NewChildOutline(b, u"B1");
  EXPECT_TRUE(doc->RemoveOutline(b1));
  EXPECT_EQ(b->Resolve()->AsDictionary()->GetValue("First"), nullptr);
  EXPECT_EQ(b->Resolve()->AsDictionary()->GetValue("Last"), nullptr);
  EXPECT_FALSE(doc->RemoveOutline(doc->GetPool().NewIndRef(999, 0)));

  // Colours and web links.
  doc->SetOutlineColor(b, 1, 0.5, 0);
  EXPECT_EQ(doc->GetOutlineColor(b, 1), 0.5);
  EXPECT_EQ(doc->GetOutlineColor(b, 7), 0);  // clamped to the last component
  doc->SetOutlineWebLink(b, "https://example.org/");
  EXPECT_EQ(doc->GetOutlineWebLink(b), "https://example.org/");
  EXPECT_EQ(doc->GetOutlineDest(b), nullptr);

  if (HaveTool("qpdf")) {
    TempDir dir;
    pvltest::WriteFile(dir.File("o.pdf"), doc->SaveToString());
    pvltest::CommandResult r = RunCommand({"qpdf", "--check", dir.File("o.pdf")});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  }
}

TEST(DocumentOutline, CyclicOutlinesAndActionChains) {
  auto doc = newDocument();
  TPDFIndRef* a = doc->NewOutline(nullptr, u"A", 0, 1);
  TPDFIndRef* b = doc->NewOutline(nullptr, u"B", 0, 1);
  // B's Next points back at A, A's First at B: the walk visits each once.
  b->Resolve()->AsDictionary()->SetValue("Next", doc->GetPool().NewIndRef(a->GetRefNumber(), 0));
  a->Resolve()->AsDictionary()->SetValue("First", doc->GetPool().NewIndRef(b->GetRefNumber(), 0));
  EXPECT_EQ(doc->GetOutlineCount(), 2);
  // A Parent loop while counts are raised.
  a->Resolve()->AsDictionary()->SetValue("Parent", doc->GetPool().NewIndRef(b->GetRefNumber(), 0));
  b->Resolve()->AsDictionary()->SetValue("Parent", doc->GetPool().NewIndRef(a->GetRefNumber(), 0));
  EXPECT_NE(doc->NewChildOutline(a, u"C"), nullptr);
  // An action chain that loops.
  TPDFStructure& pool = doc->GetPool();
  TPDFDictionary* action = pool.ParseObject("<< /S /GoTo >>")->AsDictionary();
  TPDFIndRef* actionRef = doc->AddIndirectRef(action);
  action->SetValue("Next", pool.NewIndRef(actionRef->GetRefNumber(), 0));
  a->Resolve()->AsDictionary()->SetValue("A", actionRef);
  EXPECT_EQ(doc->GetOutlineWebLink(a), "");
  action->SetValue("Next", pool.ParseObject("[ << /S /URI /URI (http://x/) >> ]"));
  EXPECT_EQ(doc->GetOutlineWebLink(a), "http://x/");
}

TEST(DocumentOutline, CorpusOutlinesMatchQpdf) {
  if (!HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  int compared = 0;
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    TPDFDocument doc;
    if (doc.LoadFromString(pvltest::ReadFile(path), u"") != 0) continue;
    TPDFDictionary* catalog = PDFAsDictionary(doc.GetTrailer()->GetValue("Root", true));
    if (!catalog || !PDFAsIndRef(catalog->GetValue("Outlines"))) continue;
    pvltest::CommandResult r = RunCommand({"qpdf", "--json", "--json-key=outlines", path});
    if (r.exitCode != 0 && r.exitCode != 3) continue;
    SCOPED_TRACE(path);
    ++compared;
    // qpdf lists every item's title in the same depth-first order.
    const int32_t count = doc.GetOutlineCount();
    EXPECT_EQ(static_cast<int32_t>(occurrences(r.out, "\"title\":")), count);
    for (int32_t n = 1; n <= count; ++n) {
      const std::string title = WideToUTF8(doc.GetOutlineTitle(doc.GetOutlineItem(n)));
      bool plain = true;
      for (unsigned char c : title) plain = plain && c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
      if (plain) {
        EXPECT_NE(r.out.find("\"title\": \"" + title + "\""), std::string::npos) << title;
      }
    }
  }
  EXPECT_GT(compared, 0);
}

TEST(NameTree, LookupByLimitsLastPairWins) {
  TPDFStructure pool;
  std::map<int32_t, TPDFObject*> objects;
  pool.OnLookupObject = [&](TPDFIndRef*, int32_t n, int32_t) -> TPDFObject* {
    auto it = objects.find(n);
    return it == objects.end() ? nullptr : it->second;
  };
  objects[1] = pool.ParseObject("<< /Limits [(a) (c)] /Names [(a) 1 (b) 2 (b) 3] >>");
  objects[2] = pool.ParseObject("<< /Limits [(d) (f)] /Names [(e) 5] >>");
  objects[3] = pool.ParseObject("<< /Kids [3 0 R] /Limits [(g) (z)] >>");  // cycles on itself
  TPDFDictionary* root = pool.ParseObject("<< /Kids [1 0 R 2 0 R 3 0 R] >>")->AsDictionary();
  struct Case {
    const char* key;
    const char* value;
  };
  const Case cases[] = {{"a", "1"}, {"b", "3"}, {"e", "5"}, {"c", nullptr}, {"h", nullptr}, {"\xFF", nullptr}};
  for (const Case& c : cases) {
    TPDFObject* v = NameTreeLookup(root, c.key);
    if (c.value) {
      ASSERT_NE(v, nullptr) << c.key;
      EXPECT_EQ(v->WriteText(), c.value);
    } else {
      EXPECT_EQ(v, nullptr) << c.key;
    }
  }
  EXPECT_EQ(NameTreeLookup(pool.ParseObject("<< /Kids [] /Names [] >>")->AsDictionary(), "a"), nullptr);
  EXPECT_EQ(NameTreeLookup(pool.ParseObject("<< >>")->AsDictionary(), "a"), nullptr);
}

TEST(DocumentOutline, NamedDestinationsAndPagesBefore) {
  TPDFDocument doc;
  doc.InitNewDocument();
  TPDFStructure& pool = doc.GetPool();
  TPDFDictionary* catalog = doc.GetRoot();
  catalog->SetValue("Dests", pool.ParseObject("<< /old [ 2 0 R /Fit ] >>"));
  TPDFIndRef* leaf = doc.AddIndirectRef(pool.ParseObject("<< /Limits [(m) (n)] /Names [(m) [ 2 0 R /XYZ ]] >>"));
  TPDFDictionary* names = pool.NewDictionary();
  names->SetValue("Dests", pool.NewArrayOf({}));
  names->SetValue("Dests", pool.ParseObject("<< /Kids [" + leaf->WriteText() + "] >>"));
  catalog->SetValue("Names", names);
  ASSERT_NE(doc.FindNamedDestination("old"), nullptr);
  EXPECT_EQ(doc.FindNamedDestination("old")->WriteText(), "[ 2 0 R /Fit ]");
  ASSERT_NE(doc.FindNamedDestination("m"), nullptr);
  EXPECT_EQ(doc.FindNamedDestination("m")->WriteText(), "[ 2 0 R /XYZ ]");
  EXPECT_EQ(doc.FindNamedDestination("zz"), nullptr);
  EXPECT_EQ(doc.CountPagesBefore(pool.NewIndRef(2, 0)), 0);

  // A nested corpus tree: every page's index equals its number - 1.
  TPDFDocument big;
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    if (big.LoadFromString(pvltest::ReadFile(path), u"") != 0) continue;
    TPDFPageTree* tree = big.GetPageTree();
    if (tree->GetPageCount() < 3 || tree->GetRootKids()->GetCount() == tree->GetPageCount()) continue;
    SCOPED_TRACE(path);
    for (int32_t n = 1; n <= tree->GetPageCount(); ++n) {
      TPDFIndRef* ref = tree->GetPageRef(n);
      ASSERT_NE(ref, nullptr);
      EXPECT_EQ(big.CountPagesBefore(ref), n - 1);
      EXPECT_EQ(big.PageIndexOf(ref), n);
    }
    return;
  }
}

TEST(DocumentFiles, AttachReadRemoveAndSave) {
  TempDir dir;
  const std::string payload = "attached bytes \x01\x02\xFF and more";
  pvltest::WriteFile(dir.File("note.txt"), payload);
  auto doc = newDocument();
  EXPECT_EQ(doc->GetEmbeddedFileCount(), 0);
  const int32_t objects = doc->GetObjectCount();
  EXPECT_EQ(doc->CreateEmbeddedFile(NativePathToWide(dir.File("missing.txt")), "text/plain"), nullptr);
  EXPECT_EQ(doc->GetObjectCount(), objects);

  TPDFIndRef* spec = doc->CreateEmbeddedFile(NativePathToWide(dir.File("note.txt")), "text/plain");
  ASSERT_NE(spec, nullptr);
  EXPECT_TRUE(doc->RegisterEmbeddedFile("note", spec));
  EXPECT_FALSE(doc->RegisterEmbeddedFile("note", spec));
  EXPECT_FALSE(doc->RegisterEmbeddedFile("other", nullptr));
  ASSERT_EQ(doc->GetEmbeddedFileCount(), 1);
  EXPECT_EQ(doc->GetEmbeddedFileContent(1), payload);
  // The file name alone: the folders it came from stay private.
  EXPECT_EQ(WideToUTF8(doc->GetEmbeddedFileString(1, 1)), "note.txt");
  EXPECT_EQ(doc->GetEmbeddedFileString(1, 2), u"text/plain");
  EXPECT_EQ(doc->GetEmbeddedFileString(1, 3).substr(0, 2), u"D:");
  EXPECT_EQ(doc->GetEmbeddedFileString(1, 4).substr(0, 2), u"D:");
  EXPECT_EQ(doc->GetEmbeddedFileString(1, 5), u"note");
  EXPECT_EQ(doc->GetEmbeddedFileString(1, 6), u"");
  EXPECT_EQ(doc->GetEmbeddedFileInt(1, 5), static_cast<int64_t>(payload.size()));
  EXPECT_EQ(doc->GetEmbeddedFileInt(1, 1), 0);
  EXPECT_EQ(doc->GetEmbeddedFileContent(2), "");

  // Without UF the name comes from F.
  TPDFIndRef* second = doc->CreateEmbeddedFile(NativePathToWide(dir.File("note.txt")), "application/octet-stream");
  second->Resolve()->AsDictionary()->FreeKey("UF");
  second->Resolve()->AsDictionary()->SetValue("F", doc->GetPool().NewString("plain.bin"));
  ASSERT_TRUE(doc->RegisterEmbeddedFile("b-second", second));
  ASSERT_EQ(doc->GetEmbeddedFileCount(), 2);
  EXPECT_EQ(doc->GetEmbeddedFileString(1, 1), u"plain.bin");  // names are kept sorted

  // qpdf lists and extracts the attachment of the saved file.
  if (HaveTool("qpdf")) {
    pvltest::WriteFile(dir.File("att.pdf"), doc->SaveToString());
    EXPECT_EQ(RunCommand({"qpdf", "--check", dir.File("att.pdf")}).exitCode, 0);
    pvltest::CommandResult shown = RunCommand({"qpdf", "--show-attachment=note", dir.File("att.pdf")});
    EXPECT_TRUE(shown.out == payload);
  }

  // Removal empties the stream and drops the name.
  TPDFStream* stream = PDFAsStream(
      PDFAsDictionary(spec->Resolve()->AsDictionary()->GetValue("EF", true))->GetValue("F", true));
  ASSERT_TRUE(doc->RemoveEmbeddedFile(2));  // "note" sorts after "b-second"
  EXPECT_EQ(doc->GetEmbeddedFileCount(), 1);
  EXPECT_EQ(stream->GetData(), "");
  EXPECT_FALSE(doc->RemoveEmbeddedFile(2));
  EXPECT_EQ(doc->GetEmbeddedFileString(1, 5), u"b-second");
}

TEST(DocumentFiles, CorpusAttachmentsMatchQpdf) {
  if (!HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  int compared = 0;
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    TPDFDocument doc;
    if (doc.LoadFromString(pvltest::ReadFile(path), u"") != 0 || doc.GetEmbeddedFileCount() == 0) continue;
    SCOPED_TRACE(path);
    for (int32_t n = 1; n <= doc.GetEmbeddedFileCount(); ++n) {
      const std::string key = WideToUTF8(doc.GetEmbeddedFileString(n, 5));
      pvltest::CommandResult r = RunCommand({"qpdf", "--show-attachment=" + key, path});
      if (r.exitCode != 0) continue;
      ++compared;
      EXPECT_TRUE(doc.GetEmbeddedFileContent(n) == r.out) << key;
    }
  }
  EXPECT_GT(compared, 0);
}

}  // namespace
