// Writes an enhanced metafile through Debian's libEMF (the GDI calls of a
// Windows program): lines, curves, polygons with holes, text in two faces,
// paths and save/restore with a world transform (libEMF writes neither
// clipping nor bitmap records: those come from the hand-written files).
//   libemf_sample OUT.emf
#include <libEMF/emf.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  FILE* fp = std::fopen(argv[1], "wb");
  if (!fp) return 1;
  RECT frame = {0, 0, 16000, 12000};  // 160 x 120 mm
  HDC dc = CreateEnhMetaFileWithFILEA(0, fp, &frame, nullptr);
  if (!dc) return 1;
  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowExtEx(dc, 1600, 1200, nullptr);
  // The reference device (1024 x 768 pixels on 320 x 240 mm) holds the
  // 160 x 120 mm frame in 512 x 384 pixels.
  SetViewportExtEx(dc, 512, 384, nullptr);

  HPEN thick = CreatePen(PS_SOLID, 8, RGB(0, 0, 160));
  HBRUSH yellow = CreateSolidBrush(RGB(255, 220, 0));
  SelectObject(dc, thick);
  SelectObject(dc, yellow);
  // Lines and curves.
  MoveToEx(dc, 50, 50, nullptr);
  LineTo(dc, 700, 50);
  POINT bezier[4] = {{50, 150}, {250, 50}, {450, 250}, {700, 150}};
  PolyBezier(dc, bezier, 4);
  // A polygon with a hole, alternate filling.
  // The inner ring runs the other way, so both filling rules leave the hole.
  SetPolyFillMode(dc, WINDING);
  POINT rings[8] = {{100, 300}, {600, 300}, {600, 700}, {100, 700}, {250, 420}, {250, 580}, {450, 580}, {450, 420}};
  INT counts[2] = {4, 4};
  PolyPolygon(dc, rings, counts, 2);
  // Text in two faces.
  HFONT sans = CreateFontA(-60, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial");
  HFONT serif = CreateFontA(-60, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Times New Roman");
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(200, 0, 0));
  SelectObject(dc, sans);
  TextOutA(dc, 800, 60, "Sans text", 9);
  SelectObject(dc, serif);
  TextOutA(dc, 800, 160, "Serif bold", 10);
  HBRUSH red = CreateSolidBrush(RGB(220, 0, 0));
  SelectObject(dc, red);
  Rectangle(dc, 1200, 800, 1500, 1100);
  // An ellipse, an arc and a filled path.
  SelectObject(dc, thick);
  Ellipse(dc, 1150, 500, 1450, 700);
  Arc(dc, 850, 600, 1050, 800, 1050, 700, 850, 700);
  BeginPath(dc);
  MoveToEx(dc, 900, 900, nullptr);
  LineTo(dc, 1100, 900);
  LineTo(dc, 1000, 1100);
  CloseFigure(dc);
  EndPath(dc);
  StrokeAndFillPath(dc);
  // A shifted world inside a saved state: the green box moves, the red one after
  // the restore does not.
  SaveDC(dc);
  XFORM shift = {1, 0, 0, 1, 100, 50};
  ModifyWorldTransform(dc, &shift, MWT_LEFTMULTIPLY);
  HBRUSH green = CreateSolidBrush(RGB(0, 170, 0));
  SelectObject(dc, green);
  SelectObject(dc, GetStockObject(NULL_PEN));
  Rectangle(dc, 700, 250, 1000, 450);
  RestoreDC(dc, -1);
  // After the restore the world is unshifted again.
  Rectangle(dc, 1300, 250, 1500, 400);
  HENHMETAFILE emf = CloseEnhMetaFile(dc);
  DeleteEnhMetaFile(emf);
  // The metafile owns the FILE and closed it.
  return 0;
}
