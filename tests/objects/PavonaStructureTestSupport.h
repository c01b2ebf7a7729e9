// Helpers of the object-layer tests: a compact dump of an object tree and a
// structural comparison of two trees.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "objects/PavonaStructure.h"

namespace pvltest {

// A compact, unambiguous text of an object tree: n5, R12.0, s"a\x05", h"AB",
// /Name, [a b], <</K:v /L:w>>, true, false, null, S<<...>>#len.
inline std::string Dump(const TPDFObject* obj, int depth = 0) {
  if (!obj) return "nil";
  if (depth > 300) return "...";
  auto* o = const_cast<TPDFObject*>(obj);
  auto quote = [](const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
      if (c < 32 || c >= 127 || c == '"' || c == '\\') {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
      } else {
        out += static_cast<char>(c);
      }
    }
    return out + "\"";
  };
  switch (obj->GetKind()) {
    case pdfkNull:
      return "null";
    case pdfkBoolean:
      return o->AsBoolean()->GetValue() ? "true" : "false";
    case pdfkNumeric: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "n%.15g", o->AsNumeric()->GetValue());
      return buf;
    }
    case pdfkString:
      return (o->AsString()->GetMode() == psmHex ? "h" : "s") + quote(o->AsString()->GetValue());
    case pdfkName:
      return "/" + quote(o->AsName()->GetValue());
    case pdfkIndRef:
      return "R" + std::to_string(o->AsIndRef()->GetRefNumber()) + "." +
             std::to_string(o->AsIndRef()->GetRefGeneration());
    case pdfkArray: {
      std::string out = "[";
      for (int32_t i = 0; i < o->AsArray()->GetCount(); ++i)
        out += (i ? " " : "") + Dump(o->AsArray()->GetItem(i), depth + 1);
      return out + "]";
    }
    case pdfkDictionary: {
      std::string out = "<<";
      for (int32_t i = 0; i < o->AsDictionary()->GetCount(); ++i) {
        TPDFDictEntry e = o->AsDictionary()->GetEntry(i);
        out += (i ? " " : "") + Dump(e.key, depth + 1) + ":" + Dump(e.value, depth + 1);
      }
      return out + ">>";
    }
    case pdfkStream:
      return "S" + Dump(o->AsStream()->GetDictionary(), depth + 1) + "#" +
             std::to_string(o->AsStream()->GetData().size());
  }
  return "?";
}

// Structural equality; numbers match within what the writer keeps at the
// given number of decimals. On a difference, why names the first one found.
inline bool SameObject(const TPDFObject* a, const TPDFObject* b, int digits, std::string* why, int depth = 0) {
  auto fail = [&](const std::string& what) {
    if (why) *why = what + ": " + Dump(a).substr(0, 200) + " vs " + Dump(b).substr(0, 200);
    return false;
  };
  if (!a || !b) return a == b ? true : fail("missing object");
  if (depth > 300) return fail("too deep");
  if (a->GetKind() != b->GetKind()) return fail("kind");
  auto* x = const_cast<TPDFObject*>(a);
  auto* y = const_cast<TPDFObject*>(b);
  switch (a->GetKind()) {
    case pdfkNull:
      return true;
    case pdfkBoolean:
      return x->AsBoolean()->GetValue() == y->AsBoolean()->GetValue() || fail("boolean");
    case pdfkNumeric: {
      double u = x->AsNumeric()->GetValue(), v = y->AsNumeric()->GetValue();
      double tolerance = 0.5 * std::pow(10.0, -digits) + 1e-9 * std::fabs(u);
      return std::fabs(u - v) <= tolerance || fail("number");
    }
    case pdfkString:
      return (x->AsString()->GetValue() == y->AsString()->GetValue() &&
              x->AsString()->GetMode() == y->AsString()->GetMode()) ||
             fail("string");
    case pdfkName:
      return x->AsName()->GetValue() == y->AsName()->GetValue() || fail("name");
    case pdfkIndRef:
      return (x->AsIndRef()->GetRefNumber() == y->AsIndRef()->GetRefNumber() &&
              x->AsIndRef()->GetRefGeneration() == y->AsIndRef()->GetRefGeneration()) ||
             fail("reference");
    case pdfkArray: {
      TPDFArray* p = x->AsArray();
      TPDFArray* q = y->AsArray();
      if (p->GetCount() != q->GetCount()) return fail("array length");
      for (int32_t i = 0; i < p->GetCount(); ++i)
        if (!SameObject(p->GetItem(i), q->GetItem(i), digits, why, depth + 1)) return false;
      return true;
    }
    case pdfkDictionary: {
      TPDFDictionary* p = x->AsDictionary();
      TPDFDictionary* q = y->AsDictionary();
      if (p->GetCount() != q->GetCount()) return fail("dictionary size");
      for (int32_t i = 0; i < p->GetCount(); ++i) {
        if (!SameObject(p->GetEntry(i).key, q->GetEntry(i).key, digits, why, depth + 1)) return false;
        if (!SameObject(p->GetEntry(i).value, q->GetEntry(i).value, digits, why, depth + 1)) return false;
      }
      return true;
    }
    case pdfkStream:
      return x->AsStream()->GetData() == y->AsStream()->GetData() &&
             SameObject(x->AsStream()->GetDictionary(), y->AsStream()->GetDictionary(), digits, why, depth + 1);
  }
  return fail("unknown kind");
}

}  // namespace pvltest
