// What the facade's vector page-output tests share: corpus pages of every
// kind, an EMF page drawn by an independent reader and compared with the
// page as pdftoppm draws it, and a metafile page drawn again through our own
// metafile converter.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "PageImageCompare.h"
#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"

namespace pvltest {

// Corpus pages with text, vector graphics, images, CMYK and a rotation.
inline const char* const kVectorOutputPages[] = {
    "samples/pdflatex-image.pdf", "samples/002-trivial-libre-office-writer.pdf", "samples/cmyk-image.pdf",
    "samples/habibi-rotated.pdf", "samples/reportlab-overlay.pdf"};

// The EMF file drawn by an independent reader (emf2svg-conv, then
// rsvg-convert on white) against page 1 of the PDF file as pdftoppm draws
// it: the same size within two pixels, close in grey and with the page's
// ink found. The difference is returned for the record.
inline TImageDifference ExpectEmfLooksLikePeerPage(const std::string& emf, const std::string& pdf, const TempDir& dir) {
  const std::string svg = dir.File("emf-page.svg"), png = dir.File("emf-page.png");
  auto conv = RunCommand({"emf2svg-conv", "-i", emf, "-o", svg});
  EXPECT_EQ(conv.exitCode, 0) << conv.err;
  auto drawn = RunCommand({"rsvg-convert", "-b", "white", "-o", png, svg});
  EXPECT_EQ(drawn.exitCode, 0) << drawn.err;
  const TImageDifference d = CompareImages(PeerPage(pdf, 1, dir, "peer"), LoadPng(png));
  EXPECT_NEAR(d.widthB, d.widthA, 2);
  EXPECT_NEAR(d.heightB, d.heightA, 2);
  EXPECT_LT(d.mean, 12.0) << "mean grey difference";
  EXPECT_GT(d.inkRecall, 0.85) << "share of the page's ink found";
  return d;
}

// Page 1 of the open document against the same page drawn again from the
// metafile (EMF or raw drawing stream) written of it: the metafile, made the
// picture of a new page, gives that page the original's size and looks like
// the original.
inline void ExpectMetafileDrawsLikeThePage(TPavona& f, const std::string& metafile) {
  TMemoryStream original;
  ASSERT_EQ(f.RenderPageToStream(72, 1, pofBMP, original), 1) << f.LastRenderMessage();
  TPavona g;
  ASSERT_EQ(g.DrawMetafilePage(NativePathToWide(metafile)), 1) << g.LastErrorCode();
  EXPECT_NEAR(g.PageWidth(), f.PageWidth(), 1.0) << "the frame gives the page's size";
  EXPECT_NEAR(g.PageHeight(), f.PageHeight(), 1.0);
  TMemoryStream again;
  ASSERT_EQ(g.RenderPageToStream(72, 1, pofBMP, again), 1) << g.LastRenderMessage();
  TBitmap a, b;
  a.LoadFromBytes(original.Bytes());
  b.LoadFromBytes(again.Bytes());
  const TImageDifference d = CompareImages(a, b);
  EXPECT_LT(d.mean, 8.0);
  EXPECT_GT(d.inkRecall, 0.9);
}

}  // namespace pvltest
