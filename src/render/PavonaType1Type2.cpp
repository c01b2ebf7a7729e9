// Type 2 charstrings (the glyphs of CFF fonts) into the glyph op list.
#include <algorithm>
#include <cmath>
#include <random>

#include "render/PavonaType1.h"
#include "render/PavonaType1Internal.h"

using namespace pvltype1;

struct TPDFType1Decoder::TType2State {
  // Operands as numbers; non-integers are kept at the 6 decimals the op list
  // writes, so arithmetic sees the same values as number texts would give.
  std::vector<double> stack;
  std::array<double, 33> transient{};
  int32_t hintCount = 0;
  bool widthPending = true;
  bool widthSeen = false;  // any stack-clearing operator met (width tracking)
  bool abort = false;

  double arg(size_t i) const { return i < stack.size() ? stack[i] : 0.0; }
  void push(double v);
  double pop() {
    if (stack.empty()) return 0.0;
    double v = stack.back();
    stack.pop_back();
    return v;
  }
};

namespace {

double round6(double v) {
  if (!std::isfinite(v)) return 0;
  if (v == std::trunc(v)) return v;
  return std::nearbyint(v * 1e6) / 1e6;
}

int32_t subrBias(int32_t count) {
  return count < 1240 ? 107 : count < 33900 ? 1131 : 32768;
}

std::string N(double v) {
  return NumText(v);
}

void addCurve(TPavonaStringList& ops, double a, double b, double c, double d, double e, double f, const char* tag) {
  ops.Add("rrcurveto(" + N(a) + "," + N(b) + "," + N(c) + "," + N(d) + "," + N(e) + "," + N(f) + ")" + tag);
}

void addLine(TPavonaStringList& ops, double dx, double dy, const char* tag) {
  ops.Add("rlineto(" + N(dx) + "," + N(dy) + ")" + tag);
}

}  // namespace

void TPDFType1Decoder::TType2State::push(double v) {
  // An overflowing stack means a broken program: stop rather than grow.
  if (stack.size() >= static_cast<size_t>(kType2MaxStack)) {
    abort = true;
    return;
  }
  stack.push_back(round6(v));
}

std::string TPDFType1Decoder::GetLocalSubr(int32_t biasedIndex) const {
  const TPavonaStringList* list = &localSubrs_;
  if (currentFD_ >= 0) {
    if (currentFD_ >= static_cast<int32_t>(fdSubrs_.size())) return std::string();
    list = fdSubrs_[static_cast<size_t>(currentFD_)].get();
  }
  if (biasedIndex < 0 || biasedIndex >= list->GetCount()) return std::string();
  return list->GetString(biasedIndex);
}

std::string TPDFType1Decoder::GetGlobalSubr(int32_t biasedIndex) const {
  if (biasedIndex < 0 || biasedIndex >= globalSubrs_.GetCount()) return std::string();
  return globalSubrs_.GetString(biasedIndex);
}

bool TPDFType1Decoder::Type2CharStringToOps(std::string_view glyphKey) {
  opList_.Clear();
  opList_.Add("hsbw(0,0)");
  std::string cs = FindCharString(glyphKey);
  bool fdWidths = currentFD_ >= 0 && currentFD_ < static_cast<int32_t>(fdWidths_.size());
  double defaultWidth = fdWidths ? fdWidths_[static_cast<size_t>(currentFD_)].first : defaultWidthX_;
  lastType2Width_ = defaultWidth;
  if (cs.empty()) return false;
  TType2State st;
  stepsLeft_ = kCharStringMaxSteps;
  interpretType2(cs, st, 0);
  return true;
}

void TPDFType1Decoder::interpretType2(std::string_view code, TType2State& st, int32_t depth) {
  const size_t n = code.size();
  size_t i = 0;
  while (i < n && !st.abort) {
    if (--stepsLeft_ < 0) {
      st.abort = true;
      break;
    }
    auto v = static_cast<uint8_t>(code[i++]);
    if (v >= 32 || v == 28) {
      if (!type2Number(v, code, i, st)) break;
      continue;
    }
    switch (v) {
      case 1:
      case 18:
        type2Stems(st, true);
        break;
      case 3:
      case 23:
        type2Stems(st, false);
        break;
      case 19:
      case 20:
        type2Hintmask(v, code, i, st);
        break;
      case 4:
      case 21:
      case 22:
        type2Moveto(v, st);
        break;
      case 5:
      case 6:
      case 7:
        type2Lines(v, st);
        break;
      case 8:
      case 24:
      case 25:
      case 26:
      case 27:
      case 30:
      case 31:
        type2Curves(v, st);
        break;
      case 10:
      case 29:
        type2CallSubr(v, st, depth);
        break;
      case 11:
        break;
      case 14:
        type2Endchar(st, depth);
        break;
      case 12: {
        if (i >= n) return;
        auto e = static_cast<uint8_t>(code[i++]);
        if (e >= 34 && e <= 37)
          type2Flex(e, st);
        else
          type2Arithmetic(e, st);
        break;
      }
      default:
        opList_.Add("Unknown: " + IntText(v));
        break;
    }
  }
}

// Operand bytes (28 and 32..255) onto the stack; false when the code ends
// inside the number.
bool TPDFType1Decoder::type2Number(uint8_t v, std::string_view code, size_t& i, TType2State& st) {
  const size_t n = code.size();
  if (v == 28) {
    if (i + 2 > n) return false;
    st.push(static_cast<int16_t>((static_cast<uint8_t>(code[i]) << 8) | static_cast<uint8_t>(code[i + 1])));
    i += 2;
  } else if (v <= 246) {
    st.push(static_cast<double>(v) - 139);
  } else if (v <= 250) {
    if (i >= n) return false;
    st.push((v - 247) * 256 + static_cast<uint8_t>(code[i++]) + 108);
  } else if (v <= 254) {
    if (i >= n) return false;
    st.push(-(v - 251) * 256 - static_cast<uint8_t>(code[i++]) - 108);
  } else {
    if (i + 4 > n) return false;
    auto ip = static_cast<int16_t>((static_cast<uint8_t>(code[i]) << 8) | static_cast<uint8_t>(code[i + 1]));
    auto fp = static_cast<uint16_t>((static_cast<uint8_t>(code[i + 2]) << 8) | static_cast<uint8_t>(code[i + 3]));
    i += 4;
    st.push(ip + fp / 65536.0);
  }
  return true;
}

void TPDFType1Decoder::type2NoteWidth(double w) {
  bool fd = currentFD_ >= 0 && currentFD_ < static_cast<int32_t>(fdWidths_.size());
  lastType2Width_ = (fd ? fdWidths_[static_cast<size_t>(currentFD_)].second : nominalWidthX_) + w;
}

// The width rule: the first stem or move operator that finds the operand
// count of the wrong parity takes the bottom operand as the width.
void TPDFType1Decoder::type2WidthRule(TType2State& st, bool oddMeansWidth) {
  std::vector<double>& s = st.stack;
  if (st.widthPending && !s.empty() && ((s.size() % 2 == 1) == oddMeansWidth)) {
    if (!st.widthSeen) type2NoteWidth(s.front());
    s.erase(s.begin());
    st.widthPending = false;
  }
  st.widthSeen = true;
}

void TPDFType1Decoder::type2Stems(TType2State& st, bool horizontal) {
  std::vector<double>& s = st.stack;
  type2WidthRule(st, true);
  size_t pairs = s.size() / 2;
  st.hintCount += static_cast<int32_t>(pairs);
  std::string e = horizontal ? "hstem(" : "vstem(";
  for (size_t k = 0; k < pairs * 2; ++k) {
    if (k) e += ',';
    e += NumText(s[k]);
  }
  e += ')';
  opList_.Add(e);
  s.clear();
}

// hintmask (19) and cntrmask (20): operands left on the stack are implicit
// vstems; the mask bytes follow the operator in the code.
void TPDFType1Decoder::type2Hintmask(uint8_t v, std::string_view code, size_t& i, TType2State& st) {
  const size_t n = code.size();
  if (!st.stack.empty()) type2Stems(st, false);
  st.widthSeen = true;
  int32_t bytes = (st.hintCount + 7) / 8;
  if (v == 19 && st.hintCount == 0) bytes = 1;
  std::string e = v == 19 ? "hintmask(" : "cntrmask(";
  for (int32_t h = 0; h < st.hintCount; ++h) {
    size_t at = i + static_cast<size_t>(h / 8);
    uint8_t byte = at < n ? static_cast<uint8_t>(code[at]) : 0;
    if (h) e += ',';
    e += (byte >> (7 - h % 8)) & 1 ? '1' : '0';
  }
  e += ')';
  opList_.Add(e);
  i = std::min(n, i + static_cast<size_t>(bytes));
}

// rmoveto (21), hmoveto (22), vmoveto (4).
void TPDFType1Decoder::type2Moveto(uint8_t v, TType2State& st) {
  std::vector<double>& s = st.stack;
  if (v == 21) {
    type2WidthRule(st, true);
    if (s.size() % 2 == 1) s.erase(s.begin());
    opList_.Add("rmoveto(" + N(st.arg(0)) + "," + N(st.arg(1)) + ")");
  } else if (v == 22) {
    type2WidthRule(st, false);
    opList_.Add("rmoveto(" + N(st.arg(0)) + ",0)");
  } else {
    type2WidthRule(st, false);
    opList_.Add("rmoveto(0, " + N(st.arg(0)) + ")");
  }
  s.clear();
}

// rlineto (5), hlineto (6), vlineto (7).
void TPDFType1Decoder::type2Lines(uint8_t v, TType2State& st) {
  std::vector<double>& s = st.stack;
  if (v == 5) {
    for (size_t k = 0; k + 1 < s.size(); k += 2) addLine(opList_, s[k], s[k + 1], "");
  } else {
    bool horizontal = v == 6;
    for (size_t k = 0; k < s.size(); ++k, horizontal = !horizontal) {
      if (horizontal)
        addLine(opList_, s[k], 0, "");
      else
        addLine(opList_, 0, s[k], "");
    }
  }
  s.clear();
}

// rrcurveto (8), rcurveline (24), rlinecurve (25), vvcurveto (26),
// hhcurveto (27); the alternating vhcurveto/hvcurveto go to type2AltCurves.
void TPDFType1Decoder::type2Curves(uint8_t v, TType2State& st) {
  std::vector<double>& s = st.stack;
  TPavonaStringList& ops = opList_;
  size_t k = 0;
  switch (v) {
    case 8:
      for (; k + 6 <= s.size(); k += 6) addCurve(ops, s[k], s[k + 1], s[k + 2], s[k + 3], s[k + 4], s[k + 5], " rr");
      s.erase(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(k));
      return;
    case 24:
      for (; s.size() - k >= 8; k += 6) addCurve(ops, s[k], s[k + 1], s[k + 2], s[k + 3], s[k + 4], s[k + 5], "");
      if (s.size() - k >= 2) addLine(ops, s[k], s[k + 1], " cl");
      break;
    case 25:
      for (; s.size() - k >= 8; k += 2) addLine(ops, s[k], s[k + 1], "");
      if (s.size() - k >= 6) addCurve(ops, s[k], s[k + 1], s[k + 2], s[k + 3], s[k + 4], s[k + 5], " lc");
      break;
    case 26:
    case 27: {
      double first = 0;
      if (s.size() % 2 == 1) first = s[k++];
      for (; k + 4 <= s.size(); k += 4) {
        if (v == 26)
          addCurve(ops, first, s[k], s[k + 1], s[k + 2], 0, s[k + 3], " vv");
        else
          addCurve(ops, s[k], first, s[k + 1], s[k + 2], s[k + 3], 0, " hh");
        first = 0;
      }
      break;
    }
    default:
      type2AltCurves(v == 30, st);
      break;
  }
  s.clear();
}

// vhcurveto (vh true) and hvcurveto: curves whose start tangent alternates
// between vertical and horizontal.
void TPDFType1Decoder::type2AltCurves(bool vh, TType2State& st) {
  std::vector<double>& s = st.stack;
  TPavonaStringList& ops = opList_;
  const size_t cnt = s.size();
  size_t k = 0;
  // Starting vertical: (0,a) (b,c) (d, last?); starting horizontal: (a,0) (b,c) (last?, d).
  auto vStart = [&](const char* tag) {
    double last = s.size() - k == 5 ? s[k + 4] : 0;
    addCurve(ops, 0, s[k], s[k + 1], s[k + 2], s[k + 3], last, tag);
    k += s.size() - k == 5 ? 5 : 4;
  };
  auto hStart = [&](const char* tag) {
    double last = s.size() - k == 5 ? s[k + 4] : 0;
    addCurve(ops, s[k], 0, s[k + 1], s[k + 2], last, s[k + 3], tag);
    k += s.size() - k == 5 ? 5 : 4;
  };
  if (cnt >= 4 && ((cnt - 4) % 8 == 0 || (cnt - 4) % 8 == 1)) {
    if (vh)
      vStart(" vh1");
    else
      hStart(" hv1");
    while (cnt - k >= 8) {
      if (vh) {
        hStart(" vh2");
        vStart(" vh3");
      } else {
        vStart(" hv2");
        hStart(" hv3");
      }
    }
  } else if (cnt >= 8 && (cnt % 8 == 0 || cnt % 8 == 1)) {
    while (cnt - k >= 8) {
      if (vh) {
        vStart(" vh4");
        hStart(" vh5");
      } else {
        hStart(" hv4");
        vStart(" hv5");
      }
    }
  }
}

// callsubr (10) and callgsubr (29): the operand is biased by the size of the
// subroutine list; nesting is bounded.
void TPDFType1Decoder::type2CallSubr(uint8_t v, TType2State& st, int32_t depth) {
  double num = st.pop();
  const TPavonaStringList* list = &globalSubrs_;
  if (v == 10) {
    list = &localSubrs_;
    if (currentFD_ >= 0)
      list = currentFD_ < static_cast<int32_t>(fdSubrs_.size()) ? fdSubrs_[static_cast<size_t>(currentFD_)].get()
                                                                : nullptr;
  }
  if (!list || depth + 1 > kType2MaxSubrDepth || std::fabs(num) > 1e9) return;
  auto idx = static_cast<int64_t>(num) + subrBias(list->GetCount());
  if (idx < 0 || idx >= list->GetCount()) return;
  std::string sub = list->GetString(static_cast<int32_t>(idx));
  interpretType2(sub, st, depth + 1);
}

// Escaped arithmetic, logic and transient-array operators (12 e).
void TPDFType1Decoder::type2Arithmetic(uint8_t e, TType2State& st) {
  std::vector<double>& s = st.stack;
  auto binary = [&st](auto f) {
    double b = st.pop(), a = st.pop();
    st.push(f(a, b));
  };
  switch (e) {
    case 3:
      binary([](double a, double b) { return a != 0 && b != 0 ? 1.0 : 0.0; });
      break;
    case 4:
      binary([](double a, double b) { return a != 0 || b != 0 ? 1.0 : 0.0; });
      break;
    case 5:
      st.push(st.pop() == 0 ? 1 : 0);
      break;
    case 9:
      st.push(std::fabs(st.pop()));
      break;
    case 10:
      binary([](double a, double b) { return a + b; });
      break;
    case 11:
      binary([](double a, double b) { return a - b; });
      break;
    case 12:
      binary([](double a, double b) { return b == 0 ? 0 : a / b; });
      break;
    case 14:
      st.push(-st.pop());
      break;
    case 15:
      binary([](double a, double b) { return a == b ? 1.0 : 0.0; });
      break;
    case 18:
      st.pop();
      break;
    case 20: {
      double idx = st.pop();
      double val = st.pop();
      if (idx >= 0 && idx <= 32) st.transient[static_cast<size_t>(idx)] = val;
      break;
    }
    case 21: {
      double idx = st.pop();
      if (idx >= 0 && idx <= 32) st.push(st.transient[static_cast<size_t>(idx)]);
      break;
    }
    case 22: {
      double t2 = st.pop(), t1 = st.pop(), s2 = st.pop(), s1 = st.pop();
      st.push(t1 <= t2 ? s1 : s2);
      break;
    }
    case 23: {
      static thread_local std::mt19937 gen(12345);
      double r = std::uniform_real_distribution<double>(0.0, 1.0)(gen);
      st.push(r == 0 ? 1 : r);
      break;
    }
    case 24:
      binary([](double a, double b) { return a * b; });
      break;
    case 26: {
      double a = st.pop();
      st.push(a < 0 ? 0 : std::sqrt(a));
      break;
    }
    case 27:
      st.push(s.empty() ? 0 : s.back());
      break;
    case 28:
      if (s.size() >= 2) std::swap(s[s.size() - 1], s[s.size() - 2]);
      break;
    case 29: {
      double k = st.pop();
      if (s.empty()) {
        st.push(0);
      } else if (k < 0 || k >= static_cast<double>(s.size())) {
        st.push(k < 0 ? s.back() : 0);
      } else {
        st.push(s[s.size() - 1 - static_cast<size_t>(k)]);
      }
      break;
    }
    case 30: {
      double jv = st.pop(), nv = st.pop();
      if (nv > 0 && nv <= static_cast<double>(s.size()) && std::fabs(jv) < 1e9) {
        auto cnt = static_cast<int64_t>(nv);
        auto shift = ((static_cast<int64_t>(jv) % cnt) + cnt) % cnt;
        std::rotate(s.end() - cnt, s.end() - shift, s.end());
      }
      break;
    }
    default:
      break;
  }
}

// hflex (34), flex (35), hflex1 (36), flex1 (37): all written as one t2flex
// op of the two curves' 12 deltas and the flex depth.
void TPDFType1Decoder::type2Flex(uint8_t e, TType2State& st) {
  auto arg = [&st](size_t k) { return st.arg(k); };
  std::string e2 = "t2flex(";
  switch (e) {
    case 34:
      e2 += N(arg(0)) + ",0," + N(arg(1)) + "," + N(arg(2)) + "," + N(arg(3)) + ",0," + N(arg(4)) + ",0," + N(arg(5)) +
            "," + N(-arg(2)) + "," + N(arg(6)) + ",0,50)";
      break;
    case 35:
      for (size_t k = 0; k < 13; ++k) {
        if (k) e2 += ',';
        e2 += N(arg(k));
      }
      e2 += ")";
      break;
    case 36:
      e2 += N(arg(0)) + "," + N(arg(1)) + "," + N(arg(2)) + "," + N(arg(3)) + "," + N(arg(4)) + ",0," + N(arg(5)) +
            ",0," + N(arg(6)) + "," + N(arg(7)) + "," + N(arg(8)) + "," + N(-(arg(1) + arg(3) + arg(7))) + ",50)";
      break;
    default: {
      double dx = 0, dy = 0;
      for (size_t k = 0; k < 10; ++k) {
        if (k % 2 == 0)
          dx += arg(k);
        else
          dy += arg(k);
        e2 += N(arg(k)) + ",";
      }
      if (std::fabs(dx) > std::fabs(dy))
        e2 += N(arg(10)) + "," + N(-dy);
      else
        e2 += N(-dx) + "," + N(arg(10));
      e2 += ",50)";
      break;
    }
  }
  opList_.Add(e2);
  st.stack.clear();
}

void TPDFType1Decoder::type2Endchar(TType2State& st, int32_t depth) {
  std::vector<double>& s = st.stack;
  if (!st.widthSeen && st.widthPending && (s.size() == 1 || s.size() == 5)) type2NoteWidth(s.front());
  st.widthSeen = true;
  if (s.size() >= 4) {
    s.erase(s.begin(), s.end() - 4);
    double adx = s[0], ady = s[1], bchar = s[2], achar = s[3];
    s.clear();
    static const TPDFGlyphNames standard = [] {
      TPDFGlyphNames names;
      BuildEncodingVector(pdfekStandard, names);
      return names;
    }();
    if (bchar >= 0 && bchar <= 255 && achar >= 0 && achar <= 255 && depth + 1 <= kType2MaxSubrDepth) {
      const std::string& bname = standard[static_cast<size_t>(bchar)];
      const std::string& aname = standard[static_cast<size_t>(achar)];
      std::string bcs = bname == ".notdef" ? std::string() : FindCharString(bname);
      std::string acs = aname == ".notdef" ? std::string() : FindCharString(aname);
      if (!bcs.empty() && !acs.empty()) {
        double keepWidth = lastType2Width_;
        TType2State base;
        base.widthSeen = true;
        interpretType2(bcs, base, depth + 1);
        opList_.Add("seac(0," + NumText(adx) + "," + NumText(ady) + ")");
        TType2State accent;
        accent.widthSeen = true;
        interpretType2(acs, accent, depth + 1);
        lastType2Width_ = keepWidth;
        if (base.abort || accent.abort) st.abort = true;
      }
    }
  }
  s.clear();
  opList_.Add("endchar");
}
