#include "render/PavonaTextFunnel.h"

#include <algorithm>
#include <cmath>

#include "objects/PavonaExtra.h"

namespace {

// Device coordinates rounded half to even, kept where their differences still fit 32 bits.
int32_t roundCoord(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int32_t>(std::nearbyint(std::clamp(v, -1.0e9, 1.0e9)));
}

double distance(const TPDFPoint& a, const TPDFPoint& b) { return std::hypot(a.x - b.x, a.y - b.y); }

TPDFPoint mapPoint(const TPDFMatrix& m, double x, double y) {
  TPDFPoint p;
  MatrixTransformPoint(m, TPDFPoint{x, y}, p);
  return p;
}

std::u16string ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

// Run text as written: CR becomes a space, a double quote gets a backslash.
std::u16string escapedText(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c == u'\r')
      out += u' ';
    else if (c == u'"')
      out += u"\\\"";
    else
      out += c;
  }
  return out;
}

// The grid never writes more lines than this; lines further down the page
// would only be empty lines of a hostile coordinate.
constexpr int32_t kMaxLayoutLines = 10000;
constexpr int32_t kRowOwners = 10000;

}  // namespace

void TPDFTextFunnel::Clear() {
  Runs.clear();
  RunList.clear();
}

void TPDFTextFunnel::SetRegion(double left, double top, double width, double height) {
  RegionSet = 1;
  RegionLeft = left;
  RegionTop = top;
  RegionRight = left + width;
  RegionBottom = top - height;
}

void TPDFTextFunnel::AddText(const TPDFMatrix& matrix, std::u16string_view text, const std::vector<double>& advances,
                             double height, double width, double bottom, double left, double deviceSize,
                             std::string_view fontName, std::string_view colorText) {
  std::string key = FormatPDFNumber(4, matrix.a) + FormatPDFNumber(4, matrix.b) + FormatPDFNumber(4, matrix.c) +
                    FormatPDFNumber(4, matrix.d);
  const TPDFPoint ll = mapPoint(matrix, left, bottom);
  const TPDFPoint lr = mapPoint(matrix, left + width, bottom);
  const TPDFPoint ur = mapPoint(matrix, left + width, bottom + height);
  const TPDFPoint ul = mapPoint(matrix, left, bottom + height);
  if (RegionSet && !(RegionLeft <= ll.x && ll.x <= RegionRight && RegionBottom <= ll.y && ll.y <= RegionTop)) return;

  auto compatible = [&](const TPDFTextFunnelBlock& r) {
    return (MergeAcrossFonts || r.FontName == fontName) && (MergeAcrossColors || r.ColorText == colorText) &&
           (MergeAcrossOrientations || r.OrientationKey == key);
  };
  int32_t target = -1;
  bool tight = false;
  double gap = 0;
  if (MergeAllowed) {
    for (size_t i = 0; i < Runs.size() && target < 0; ++i) {
      const TPDFTextFunnelBlock& r = Runs[i];
      if (!compatible(r)) continue;
      double d = distance(r.LowerRight, ll);
      if (ll.x > r.LowerLeft.x && ll.x < r.LowerRight.x && ll.y == r.LowerRight.y) d = 0;
      if (d < deviceSize / 3.75) {
        target = static_cast<int32_t>(i);
        tight = true;  // a continuation joins as it is
      }
    }
    for (size_t i = 0; i < Runs.size() && target < 0; ++i) {
      const TPDFTextFunnelBlock& r = Runs[i];
      if (!compatible(r)) continue;
      const double d = distance(r.LowerRight, ll);
      if (std::fabs(r.LowerRight.y - ll.y) < 2 && d < deviceSize) {
        target = static_cast<int32_t>(i);
        tight = d < deviceSize * (GapSetting / 0.7) * 0.3;
        gap = d;
      }
    }
  }
  if (target >= 0 && !tight && KeepWordsApart) target = -1;
  if (target >= 0) {
    TPDFTextFunnelBlock& r = Runs[static_cast<size_t>(target)];
    if (!tight) {
      r.Text += u' ';
      r.Advances.push_back(gap);
    }
    r.Text += text;
    for (double a : advances) r.Advances.push_back(a * matrix.a);
    r.LowerRight = lr;
    r.UpperRight = ur;
  } else {
    TPDFTextFunnelBlock r;
    r.LowerLeft = ll;
    r.LowerRight = lr;
    r.UpperRight = ur;
    r.UpperLeft = ul;
    r.Text = text;
    r.Advances.reserve(advances.size());
    for (double a : advances) r.Advances.push_back(a * matrix.a);
    r.FontName = fontName;
    r.OrientationKey = std::move(key);
    r.ColorText = colorText;
    r.DeviceSize = deviceSize;
    Runs.push_back(std::move(r));
  }
  MergeAllowed = 1;
}

void TPDFTextFunnel::prepare() {
  RunList.clear();
  for (size_t i = 0; i < Runs.size(); ++i) {
    TPDFTextFunnelBlock& r = Runs[i];
    r.Left = roundCoord(r.LowerLeft.x);
    r.Top = roundCoord(PageHeight - r.UpperRight.y);
    r.Right = roundCoord(r.UpperRight.x);
    r.Bottom = roundCoord(PageHeight - r.LowerLeft.y);
    r.Width = r.Right - r.Left;
    r.Height = r.Bottom - r.Top;
    r.PrevRun = r.NextRun = -1;
    r.CentreX = static_cast<int32_t>(std::nearbyint(r.Width / 2.0)) + r.Left;
    r.CentreY = static_cast<int32_t>(std::nearbyint(r.Height / 2.0)) + r.Top;
    RunList.push_back(static_cast<int32_t>(i));
  }
}

void TPDFTextFunnel::sortTopLeft() {
  std::stable_sort(RunList.begin(), RunList.end(), [this](int32_t a, int32_t b) {
    const TPDFTextFunnelBlock &x = Runs[static_cast<size_t>(a)], &y = Runs[static_cast<size_t>(b)];
    return x.Top != y.Top ? x.Top < y.Top : x.Left < y.Left;
  });
}

std::string TPDFTextFunnel::writtenX(double x) const {
  const double v = x * UnitScale;
  return FormatPDFNumber(4, OriginCorner == 2 || OriginCorner == 3 ? PageWidth - v : v);
}

std::string TPDFTextFunnel::writtenY(double y) const {
  const double v = y * UnitScale;
  return FormatPDFNumber(4, OriginCorner == 1 || OriginCorner == 2 ? PageHeight - v : v);
}

std::u16string TPDFTextFunnel::GetDetailedText() {
  prepare();
  if (SortRuns) sortTopLeft();
  std::u16string out;
  for (int32_t index : RunList) {
    const TPDFTextFunnelBlock& r = Runs[static_cast<size_t>(index)];
    std::string fields = "\"" + r.FontName + "\"," + r.ColorText + "," + FormatPDFNumber(2, r.DeviceSize);
    for (const TPDFPoint* p : {&r.LowerLeft, &r.LowerRight, &r.UpperRight, &r.UpperLeft})
      fields += "," + writtenX(p->x) + "," + writtenY(p->y);
    out += PDFTextOrUTF8ToWide(fields);
    out += u",\"";
    out += escapedText(r.Text);
    out += u"\"\r\n";
    if (AddGlyphWidths) {
      std::string widths;
      // Advances are lengths: scaled like x coordinates, never mirrored.
      for (size_t i = 0; i < r.Advances.size(); ++i)
        widths += (i ? "," : "") + FormatPDFNumber(4, r.Advances[i] * UnitScale);
      out += ascii(widths);
      out += u"\r\n";
    }
  }
  return out;
}

std::u16string TPDFTextFunnel::GetSimpleText() {
  prepare();
  if (SortRuns) sortTopLeft();
  std::u16string out;
  for (int32_t index : RunList) {
    out += escapedText(Runs[static_cast<size_t>(index)].Text);
    out += u"\r\n";
  }
  return out;
}

void TPDFTextFunnel::LinkRuns() {
  prepare();
  std::stable_sort(RunList.begin(), RunList.end(), [this](int32_t a, int32_t b) {
    const TPDFTextFunnelBlock &x = Runs[static_cast<size_t>(a)], &y = Runs[static_cast<size_t>(b)];
    return x.Left != y.Left ? x.Left < y.Left : x.Top < y.Top;
  });
  std::vector<int32_t> owner(kRowOwners, -1);
  std::vector<int32_t> leaders;
  for (int32_t index : RunList) {
    const TPDFTextFunnelBlock& r = Runs[static_cast<size_t>(index)];
    if (r.Height > 175) continue;
    int32_t taken = 0;
    for (int64_t y = std::max<int64_t>(r.Top, 0); y <= r.Bottom && y < kRowOwners; ++y) {
      if (owner[static_cast<size_t>(y)] >= 0) continue;
      owner[static_cast<size_t>(y)] = index;
      ++taken;
    }
    if (taken >= 1 && taken > r.Height / 2.0) leaders.push_back(index);
  }
  const size_t runCount = Runs.size();
  for (int32_t i : RunList) {
    TPDFTextFunnelBlock& ri = Runs[static_cast<size_t>(i)];
    int32_t p = -1;
    int64_t best = 0;
    for (int32_t l : leaders) {
      const int64_t d = std::llabs(static_cast<int64_t>(Runs[static_cast<size_t>(l)].CentreY) - ri.CentreY);
      if (p < 0 || d < best) p = l, best = d;
    }
    if (p < 0 || p == i) continue;
    // To the end of p's chain; chains of narrow overlapping runs can close
    // into a ring, so the walk is bounded by the number of runs.
    for (size_t steps = 0; steps < runCount; ++steps) {
      const int32_t next = Runs[static_cast<size_t>(p)].NextRun;
      if (next < 0 || Runs[static_cast<size_t>(next)].PrevRun != p) break;
      p = next;
    }
    if (p == i) continue;
    TPDFTextFunnelBlock& rp = Runs[static_cast<size_t>(p)];
    if (rp.NextRun == i || !(rp.Right < static_cast<int64_t>(ri.Left) + 5)) continue;
    if (rp.NextRun < 0) {
      if (ri.PrevRun < 0) ri.PrevRun = p;
      rp.NextRun = i;
    } else {
      TPDFTextFunnelBlock& next = Runs[static_cast<size_t>(rp.NextRun)];
      if (std::llabs(static_cast<int64_t>(ri.CentreY) - rp.CentreY) <
          std::llabs(static_cast<int64_t>(next.CentreY) - rp.CentreY)) {
        next.PrevRun = -1;
        ri.PrevRun = p;
        rp.NextRun = i;
      }
    }
  }
  for (size_t k = 0; k < runCount; ++k)
    if (Runs[k].NextRun >= 0) Runs[static_cast<size_t>(Runs[k].NextRun)].PrevRun = static_cast<int32_t>(k);
}

std::u16string TPDFTextFunnel::GetLayoutText() {
  std::u16string out;
  std::u16string buffer(500, u' ');
  std::vector<int32_t> heads;
  for (size_t k = 0; k < Runs.size(); ++k) {
    Runs[k].Printed = 0;
    if (Runs[k].PrevRun < 0) heads.push_back(static_cast<int32_t>(k));
  }
  std::stable_sort(heads.begin(), heads.end(),
                   [this](int32_t a, int32_t b) { return Runs[static_cast<size_t>(a)].Top < Runs[static_cast<size_t>(b)].Top; });
  int32_t line = 1;
  auto writeChain = [&](int32_t head) {
    // The run's line is round(top / 8): the lines before it are written empty.
    const int32_t d = std::min(static_cast<int32_t>(std::nearbyint(Runs[static_cast<size_t>(head)].Top / 8.0)),
                               kMaxLayoutLines);
    if (line < d) {
      for (int32_t k = 0; k < d - line; ++k) out += u"\r\n";
      line = d;
    }
    int64_t lastCol = -1, lastRight = -1;
    int32_t run = head;
    for (size_t steps = 0; run >= 0 && steps < Runs.size(); ++steps) {
      TPDFTextFunnelBlock& r = Runs[static_cast<size_t>(run)];
      int64_t col = static_cast<int64_t>(std::nearbyint(r.Left / 5.0));
      if (lastCol + 1 >= col) col = r.Height / 5.0 >= static_cast<double>(r.Left - lastRight) ? lastCol + 1 : lastCol + 2;
      if (!r.Printed) {
        int64_t pos = col;
        for (char16_t c : r.Text) {
          ++pos;
          if (pos >= 0 && pos < 500) buffer[static_cast<size_t>(pos)] = c;
        }
        r.Printed = 1;
        lastCol = pos;
      }
      lastRight = r.Right;
      run = r.NextRun;
    }
    size_t end = buffer.find_last_not_of(u' ');
    if (end != std::u16string::npos) out.append(buffer, 0, end + 1);
    out += u"\r\n";
    ++line;
    std::fill(buffer.begin(), buffer.end(), u' ');
  };
  for (int32_t head : heads) writeChain(head);
  // Runs linked into a ring have no head; each is written from its first member.
  for (size_t k = 0; k < Runs.size(); ++k)
    if (!Runs[k].Printed) writeChain(static_cast<int32_t>(k));
  return out;
}
