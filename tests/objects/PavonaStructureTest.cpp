// Object pool and objects: factories, accessors, freeing rules and the PDF
// syntax writer.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "PavonaStructureTestSupport.h"
#include "objects/PavonaStructure.h"

namespace {

using pvltest::Dump;

struct WriteCase {
  const char* what;
  std::function<TPDFObject*(TPDFStructure&)> build;
  std::string text;
};

TEST(PavonaStructureWriter, TableOfObjects) {
  const WriteCase cases[] = {
      {"null", [](TPDFStructure& p) { return p.NewNull(); }, "null"},
      {"true", [](TPDFStructure& p) { return p.NewBoolean(true); }, "true"},
      {"false", [](TPDFStructure& p) { return p.NewBoolean(false); }, "false"},
      {"integer", [](TPDFStructure& p) { return p.NewNumeric(612); }, "612"},
      {"half", [](TPDFStructure& p) { return p.NewNumeric(0.5); }, "0.5"},
      {"rounded", [](TPDFStructure& p) { return p.NewNumeric(1.23456); }, "1.2346"},
      {"negative", [](TPDFStructure& p) { return p.NewNumeric(-3.25); }, "-3.25"},
      {"big", [](TPDFStructure& p) { return p.NewNumeric(1e15); }, "1000000000000000"},
      {"NaN", [](TPDFStructure& p) { return p.NewNumeric(std::nan("")); }, "0"},
      {"infinity", [](TPDFStructure& p) { return p.NewNumeric(INFINITY); }, "0"},
      {"-infinity", [](TPDFStructure& p) { return p.NewNumeric(-INFINITY); }, "0"},
      {"reference", [](TPDFStructure& p) { return p.NewIndRef(12, 0); }, "12 0 R"},
      {"literal", [](TPDFStructure& p) { return p.NewString("(a)b\\"); }, "(\\(a\\)b\\\\)"},
      {"controls", [](TPDFStructure& p) { return p.NewString("\b\t\n\f\r\x01\xE9"); }, "(\\b\\t\\n\\f\\r\x01\xE9)"},
      {"hex", [](TPDFStructure& p) { return p.NewString("\x01\xAB", psmHex); }, "<01AB>"},
      {"bad mode", [](TPDFStructure& p) { return p.NewString("abc", 2); }, ""},
      {"name", [](TPDFStructure& p) { return p.NewName("Type"); }, "/Type"},
      {"name escapes", [](TPDFStructure& p) { return p.NewName("A B#(\xE9/%\x7F"); }, "/A#20B#23#28#E9#2F#25#7F"},
      {"empty name", [](TPDFStructure& p) { return p.NewName(""); }, "/"},
      {"array",
       [](TPDFStructure& p) {
         return p.NewIntegerArray(std::vector<int32_t>{0, 0, 612, 792});
       },
       "[ 0 0 612 792 ]"},
      {"empty array", [](TPDFStructure& p) { return p.NewArray(); }, "[ ]"},
      {"array of nil",
       [](TPDFStructure& p) {
         return p.NewArrayOf({nullptr, p.NewNull()});
       },
       "[  null ]"},
      {"empty dictionary", [](TPDFStructure& p) { return p.NewDictionary(); }, "<<\n>>\n"},
      {"dictionary",
       [](TPDFStructure& p) {
         TPDFDictionary* d = p.NewDictionary();
         d->SetValue("Type", p.NewName("Page"));
         d->SetValue("Parent", p.NewIndRef(3, 0));
         return d;
       },
       "<<\n/Type /Page\n/Parent 3 0 R\n>>\n"},
      {"nested dictionary",
       [](TPDFStructure& p) {
         TPDFDictionary* d = p.NewDictionary();
         TPDFDictionary* inner = p.NewDictionary();
         inner->SetValue("B", p.NewNumeric(1));
         d->SetValue("A", inner);
         d->SetValue("C", p.NewArrayOf({inner}));
         return d;
       },
       "<<\n/A <<\n/B 1\n>>\n/C [ <<\n/B 1\n>>\n]\n>>\n"},
      {"stream",
       [](TPDFStructure& p) {
         TPDFDictionary* d = p.NewDictionary();
         d->SetValue("Length", p.NewNumeric(3));
         return p.NewStreamWith("abc", d);
       },
       "<<\n/Length 3\n>>\nstream\nabc\nendstream"},
  };
  for (const WriteCase& c : cases) {
    TPDFStructure pool;
    EXPECT_EQ(c.build(pool)->WriteText(), c.text) << c.what;
  }
}

TEST(PavonaStructureWriter, SingleLineDictionaries) {
  TPDFStructure pool;
  pool.SetMultiLine(false);
  TPDFDictionary* d = pool.NewDictionary();
  EXPECT_EQ(d->WriteText(), "<< >>\n");
  d->SetValue("Type", pool.NewName("Page"));
  EXPECT_EQ(d->WriteText(), "<< /Type /Page >>\n");
  d->SetValue("Count", pool.NewNumeric(2));
  EXPECT_EQ(d->WriteText(), "<<\n/Type /Page\n/Count 2\n>>\n");
}

TEST(PavonaStructureWriter, LongArraysWrapAfterEightyBytes) {
  TPDFStructure pool;
  std::vector<double> values(40, 123456.5);
  std::string text = pool.NewRealArray(values)->WriteText();
  // Parses back to the same numbers, and every line is short.
  TPDFArray* back = PDFAsArray(pool.ParseObject(text));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetCount(), 40);
  size_t start = 0, lines = 0;
  for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
    EXPECT_LE(nl - start, 80u + 10u);
    start = nl + 1;
    ++lines;
  }
  EXPECT_GE(lines, 3u);
  EXPECT_EQ(text.substr(0, 2), "[ ");
  EXPECT_EQ(text.back(), ']');
}

TEST(PavonaStructureWriter, PrecisionFollowsThePool) {
  TPDFStructure pool;
  EXPECT_EQ(pool.GetPrecisionText(), "0.0000");
  pool.SetPrecision(8);
  EXPECT_EQ(pool.GetPrecisionText(), "0.00000000");
  EXPECT_EQ(pool.NewNumeric(0.123456789)->WriteText(), "0.12345679");
  pool.Reset();
  EXPECT_EQ(pool.GetPrecisionDigits(), 4);
}

// Containers that contain themselves, or nest beyond the limit, raise
// instead of looping, overflowing the stack or dropping entries silently.
TEST(PavonaStructureWriter, CyclesAndDeepNestingRaise) {
  TPDFStructure pool;
  TPDFDictionary* d = pool.NewDictionary();
  TPDFArray* a = pool.NewArray();
  d->SetValue("Kids", a);
  a->Add(d);
  a->Add(pool.NewIndRef(4, 0));
  EXPECT_THROW(d->WriteText(), EPDFError);
  EXPECT_THROW(a->WriteText(), EPDFError);
  EXPECT_THROW(d->ShiftObjectNumbers(1), EPDFError);
  // A dictionary whose failing entry sits among good ones still raises.
  TPDFDictionary* outer = pool.NewDictionary();
  outer->SetValue("Good", pool.NewNumeric(1));
  outer->SetValue("Bad", d);
  EXPECT_THROW(outer->WriteText(), EPDFError);
  // Lookups by text skip an item that cannot be written.
  TPDFArray* holder = pool.NewArrayOf({d, pool.NewNumeric(5)});
  EXPECT_TRUE(holder->ContainsText("5"));
  EXPECT_FALSE(holder->ContainsText("6"));
  holder->RemoveObject(pool.NewNumeric(5), true);
  EXPECT_EQ(holder->GetCount(), 1);
  // Releasing a cycle is harmless.
  EXPECT_NO_THROW(d->Release());
  EXPECT_NO_THROW(a->Release());

  TPDFArray* deep = pool.NewArray();
  TPDFArray* top = deep;
  for (int i = 0; i < 10000; ++i) {
    TPDFArray* next = pool.NewArray();
    top->Add(next);
    top = next;
  }
  EXPECT_THROW(deep->WriteText(), EPDFError);
}

TEST(PavonaStructureObjects, NumericAsInteger) {
  TPDFStructure pool;
  const std::pair<double, int64_t> cases[] = {
      {2.5, 2},
      {3.5, 4},
      {-2.5, -2},
      {-0.6, -1},
      {7, 7},
      {std::nan(""), 0},
      {1e300, std::numeric_limits<int64_t>::max()},
      {-1e300, std::numeric_limits<int64_t>::min()},
      {INFINITY, std::numeric_limits<int64_t>::max()},
      {9223372036854775807.0, std::numeric_limits<int64_t>::max()},
      {2147483648.0, 2147483648LL},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(pool.NewNumeric(value)->AsInteger(), expected) << value;
}

TEST(PavonaStructureObjects, DictionaryEntries) {
  TPDFStructure pool;
  TPDFDictionary* d = pool.NewDictionary();
  d->SetValue("Type", pool.NewName("Page"));
  d->SetValue("Count", pool.NewNumeric(2.6));
  d->SetValue("Self", d);  // ignored
  EXPECT_EQ(d->GetCount(), 2);
  EXPECT_EQ(d->GetTypeName(), "Page");
  EXPECT_EQ(d->GetInteger("Count", -1), 3);
  EXPECT_EQ(d->GetInteger("Type", -1), -1);
  EXPECT_EQ(d->GetInteger("Missing", -7), -7);
  EXPECT_EQ(d->GetValue("type"), nullptr);  // case-sensitive

  // Setting an existing key replaces key and value at its place.
  d->SetValue("Type", pool.NewName("Pages"));
  EXPECT_EQ(d->GetCount(), 2);
  EXPECT_EQ(d->IndexOfKey("Type"), 0);
  EXPECT_EQ(d->GetTypeName(), "Pages");

  TPDFDictEntry missing = d->GetEntry(5);
  EXPECT_EQ(missing.key, nullptr);
  EXPECT_EQ(missing.value, nullptr);

  d->DeleteKey("Type");
  EXPECT_EQ(d->GetCount(), 1);
  EXPECT_EQ(d->IndexOfKey("Count"), 0);
  d->FreeKey("Count");
  d->FreeKey("Nothing");
  EXPECT_EQ(d->GetCount(), 0);

  // Keys are interned: common names are one object per pool, and every key is shared.
  TPDFDictionary* e = pool.NewDictionary();
  TPDFDictionary* f = pool.NewDictionary();
  e->SetValue("Type", pool.NewNull());
  f->SetValue("Type", pool.NewNull());
  e->SetValue("Private", pool.NewNull());
  f->SetValue("Private", pool.NewNull());
  EXPECT_EQ(e->GetEntry(0).key, f->GetEntry(0).key);
  EXPECT_NE(e->GetEntry(1).key, f->GetEntry(1).key);
  EXPECT_TRUE(e->GetEntry(1).key->IsSharedKey());
  EXPECT_EQ(pool.FindName("Type"), e->GetEntry(0).key);
  EXPECT_EQ(pool.FindName("Nope"), nullptr);
  // A name that spans two entries of the common list is still a plain key.
  e->SetValue("Type][Subtype", pool.NewNull());
  EXPECT_EQ(e->GetValue("Type][Subtype")->GetKind(), pdfkNull);
}

TEST(PavonaStructureObjects, ResolveThroughTheLookupCallback) {
  TPDFStructure pool;
  TPDFDictionary* target = pool.NewDictionary();
  target->SetValue("N", pool.NewNumeric(9));
  TPDFDictionary* d = pool.NewDictionary();
  d->SetValue("Ref", pool.NewIndRef(5, 0));
  d->SetValue("Dangling", pool.NewIndRef(6, 0));
  EXPECT_EQ(d->GetValue("Ref", true), nullptr);  // no callback yet
  std::vector<std::pair<int32_t, int32_t>> asked;
  pool.OnLookupObject = [&](TPDFIndRef*, int32_t number, int32_t generation) -> TPDFObject* {
    asked.emplace_back(number, generation);
    return number == 5 ? target : nullptr;
  };
  EXPECT_EQ(d->GetValue("Ref", true), target);
  EXPECT_EQ(d->GetValue("Ref", false)->GetKind(), pdfkIndRef);
  EXPECT_EQ(d->GetDictionary("Ref"), target);
  EXPECT_EQ(d->GetValue("Dangling", true), nullptr);
  EXPECT_EQ(d->GetInteger("Ref", 1), 1);
  EXPECT_EQ(target->GetNumber("N", 0), 9);
  ASSERT_EQ(asked.size(), 4u);
  EXPECT_EQ(asked[0], std::make_pair(5, 0));
}

TEST(PavonaStructureObjects, ArrayEditing) {
  TPDFStructure pool;
  TPDFArray* a = pool.NewArray();
  TPDFNumeric* one = pool.NewNumeric(1);
  TPDFNumeric* three = pool.NewNumeric(3);
  a->Add(one);
  a->Insert(1, three);                 // index = count appends
  a->Insert(3, pool.NewNumeric(99));   // count + 1: nothing
  a->Insert(-1, pool.NewNumeric(99));  // nothing
  a->Insert(1, pool.NewNumeric(2));
  EXPECT_EQ(Dump(a), "[n1 n2 n3]");
  EXPECT_TRUE(a->IsAllNumeric());
  EXPECT_TRUE(a->ContainsText("2"));
  EXPECT_FALSE(a->ContainsText("4"));
  EXPECT_EQ(a->GetItem(3), nullptr);
  EXPECT_EQ(a->GetItem(-1), nullptr);

  a->Add(pool.NewIndRef(7, 0));
  EXPECT_FALSE(a->IsAllNumeric());
  TPDFIndRef* probe = pool.NewIndRef(7, 0);
  EXPECT_EQ(a->IndexOfRef(probe), 3);
  a->RemoveObject(probe);  // not the same object: stays
  EXPECT_EQ(a->GetCount(), 4);
  a->RemoveObject(probe, true);  // same text: removed
  EXPECT_EQ(a->GetCount(), 3);
  a->ReplaceItem(0, pool.NewName("X"));
  a->Delete(1);
  a->Delete(5);
  EXPECT_EQ(Dump(a), "[/\"X\" n3]");
  a->RemoveObject(three);
  EXPECT_EQ(Dump(a), "[/\"X\"]");
  EXPECT_TRUE(pool.NewArray()->IsAllNumeric());
}

TEST(PavonaStructureObjects, AssignAcrossPools) {
  TPDFStructure a, b;
  TPDFDictionary* src = PDFAsDictionary(a.ParseObject("<< /Type /Font /W [1 2 3] /R 4 0 R >>"));
  ASSERT_NE(src, nullptr);
  TPDFDictionary* same = a.NewDictionary();
  same->Assign(src);
  EXPECT_EQ(same->GetEntry(1).value, src->GetEntry(1).value);  // shared, not copied
  TPDFDictionary* other = b.NewDictionary();
  other->Assign(src);
  EXPECT_EQ(Dump(other), Dump(src));
  EXPECT_EQ(other->GetEntry(1).value->GetOwner(), &b);
}

// Freeing detaches objects from the live list; nothing is destroyed while
// the pool lives, so pointers held elsewhere stay valid.
TEST(PavonaStructurePool, FreeingRules) {
  TPDFStructure pool;
  TPDFDictionary* d = PDFAsDictionary(pool.ParseObject("<< /A 1 /B [2] >>"));
  ASSERT_NE(d, nullptr);
  const int32_t count = pool.GetCount();
  TPDFObject* held = d->GetValue("B");
  pool.FreeObject(held);  // held by a live dictionary: stays
  EXPECT_EQ(pool.GetCount(), count);
  d->Release();  // not held: only the dictionary leaves
  EXPECT_EQ(pool.GetCount(), count - 1);
  EXPECT_EQ(Dump(d), "<</\"A\":n1 /\"B\":[n2]>>");  // still readable
  pool.FreeObject(held);                            // its holder has left: now it leaves too
  EXPECT_EQ(pool.GetCount(), count - 2);
  pool.FreeObject(held);  // not live any more: nothing
  EXPECT_EQ(pool.GetCount(), count - 2);

  // A stream's own dictionary is held by the stream.
  TPDFStream* s = pool.NewStream("data", false);
  const int32_t withStream = pool.GetCount();
  pool.FreeObject(s->GetDictionary());
  EXPECT_EQ(pool.GetCount(), withStream);
  EXPECT_EQ(s->GetDictionary()->GetInteger("Length", 0), 4);
  s->Release();  // the stream and its dictionary leave
  EXPECT_EQ(pool.GetCount(), withStream - 2);

  // SetDictionary frees the old dictionary only when nobody else holds it.
  TPDFStream* t = pool.NewStreamWith("x", nullptr);
  TPDFDictionary* first = t->GetDictionary();
  TPDFArray* keeper = pool.NewArrayOf({first});
  const int32_t before = pool.GetCount();
  t->SetDictionary(pool.NewDictionary());
  EXPECT_EQ(pool.GetCount(), before + 1);
  keeper->Delete(0);
  pool.FreeObject(first);
  EXPECT_EQ(pool.GetCount(), before);

  // Shared key names are never freed.
  TPDFDictionary* k = pool.NewDictionary();
  k->SetValue("Mine", pool.NewNull());
  TPDFName* key = k->GetEntry(0).key;
  k->DeleteKey("Mine");
  const int32_t withKey = pool.GetCount();
  pool.FreeObject(key);
  EXPECT_EQ(pool.GetCount(), withKey);

  // A plain object nobody holds leaves; later objects move down.
  TPDFNull* lone = pool.NewNull();
  TPDFNull* last = pool.NewNull();
  const int32_t n = pool.GetCount();
  pool.FreeObject(lone);
  EXPECT_EQ(pool.GetCount(), n - 1);
  EXPECT_EQ(pool.GetObject(n - 2), last);
  EXPECT_EQ(pool.GetObject(n - 1), nullptr);
  EXPECT_EQ(pool.GetObject(-1), nullptr);
}

TEST(PavonaStructurePool, ShiftReferences) {
  TPDFStructure pool;
  TPDFObject* obj = pool.ParseObject("<< /A 3 2 R /B [ 3 2 R 1 0 R ] >>");
  pool.ShiftReferences(5, true);
  EXPECT_EQ(Dump(obj), "<</\"A\":R8.0 /\"B\":[R8.0 R6.0]>>");
  obj->ShiftObjectNumbers(-2);
  EXPECT_EQ(Dump(obj), "<</\"A\":R6.0 /\"B\":[R6.0 R4.0]>>");
  TPDFIndRef* big = pool.NewIndRef(std::numeric_limits<int32_t>::max(), 0);
  big->ShiftObjectNumbers(1);  // wraps, no undefined behaviour
  EXPECT_EQ(big->GetRefNumber(), std::numeric_limits<int32_t>::min());
}

TEST(PavonaStructurePool, FactoriesAndReset) {
  TPDFStructure pool;
  EXPECT_EQ(pool.GetCount(), 0);
  pool.Reserve(10000);
  EXPECT_EQ(pool.GetCount(), 0);
  TPDFArray* ints = pool.NewIntegerArray(std::vector<int32_t>{1, -2});
  TPDFArray* reals = pool.NewRealArray(std::vector<double>{0.25});
  EXPECT_EQ(ints->WriteText(), "[ 1 -2 ]");
  EXPECT_EQ(reals->WriteText(), "[ 0.25 ]");
  EXPECT_EQ(pool.GetCount(), 5);
  EXPECT_EQ(pool.GetObject(0), ints);
  TPDFString* text = pool.NewTextString(u"Grüße \u20AC");
  EXPECT_EQ(text->GetMode(), psmLiteral);
  EXPECT_EQ(text->GetText(), u"Grüße \u20AC");
  pool.SetMultiLine(false);
  pool.SetPrecision(2);
  pool.Reset();
  EXPECT_EQ(pool.GetCount(), 0);
  EXPECT_TRUE(pool.GetMultiLine());
  EXPECT_EQ(pool.GetPrecisionDigits(), 4);
  // Interned keys are made afresh after a reset.
  TPDFDictionary* d = pool.NewDictionary();
  d->SetValue("Type", pool.NewNull());
  EXPECT_EQ(d->GetEntry(0).key->GetOwner(), &pool);
  EXPECT_EQ(pool.FindName("Type"), d->GetEntry(0).key);
}

}  // namespace
