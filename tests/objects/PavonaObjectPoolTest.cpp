// The pool's bookkeeping (holder counts, lazily compacted live list, name
// index) checked against the plain definitions it replaces: an object is
// freed only when no live object of its pool holds it, and FindName gives
// the first live name of that text in creation order.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "objects/PavonaCharClass.h"
#include "objects/PavonaStructure.h"

namespace {

bool isLive(const TPDFStructure& pool, const TPDFObject* obj) {
  for (int32_t i = 0; i < pool.GetCount(); ++i)
    if (pool.GetObject(i) == obj) return true;
  return false;
}

// The freeing rule by its definition: a scan of every live object.
bool heldByScan(const TPDFStructure& pool, const TPDFObject* obj) {
  for (int32_t i = 0; i < pool.GetCount(); ++i)
    if (pool.GetObject(i)->HoldsObject(obj)) return true;
  return false;
}

bool isSharedKey(TPDFObject* obj) {
  TPDFName* name = obj->AsName();
  return name && name->IsSharedKey();
}

// Random edits of containers, each FreeObject compared with the definition.
TEST(PavonaObjectPool, FreeingMatchesTheScanDefinition) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    TPDFStructure pool;
    TPDFStructure other;  // objects of another pool never hold ours
    std::vector<TPDFObject*> all;
    auto pick = [&]() -> TPDFObject* { return all[rng() % all.size()]; };
    auto add = [&](TPDFObject* obj) {
      all.push_back(obj);
      return obj;
    };
    for (int i = 0; i < 6; ++i) {
      add(pool.NewArray());
      add(pool.NewDictionary());
      add(pool.NewNumeric(i));
      add(pool.NewName("N" + std::to_string(i)));
    }
    add(pool.ParseObject("<< /A [ 1 2 << /B 3 >> ] /C (s) >>"));
    add(pool.NewStream("data", false));
    add(other.NewArray());
    const char* keys[] = {"Type", "Length", "K1", "K2", "Filter"};
    for (int step = 0; step < 400; ++step) {
      TPDFObject* target = pick();
      TPDFObject* value = pick();
      TPDFArray* array = target->AsArray();
      TPDFDictionary* dict = target->AsDictionary();
      TPDFStream* stream = target->AsStream();
      const std::string key = keys[rng() % 5];
      switch (rng() % 12) {
        case 0:
          if (array) array->Add(value);
          break;
        case 1:
          if (array) array->Insert(static_cast<int32_t>(rng() % (array->GetCount() + 1)), value);
          break;
        case 2:
          if (array && array->GetCount()) array->Delete(static_cast<int32_t>(rng() % array->GetCount()));
          break;
        case 3:
          if (array && array->GetCount()) array->ReplaceItem(static_cast<int32_t>(rng() % array->GetCount()), value);
          break;
        case 4:
          if (dict) dict->SetValue(key, value);
          break;
        case 5:
          if (dict) (rng() % 2 ? dict->DeleteKey(key) : dict->FreeKey(key));
          break;
        case 6:
          if (dict && rng() % 4 == 0) dict->Clear();
          if (dict && value->AsDictionary() && rng() % 2) dict->Assign(value->AsDictionary());
          break;
        case 7:
          if (stream && value->AsDictionary()) stream->SetDictionary(value->AsDictionary());
          if (stream && rng() % 3 == 0) stream->SetData("new data", false);
          break;
        case 8:
          add(rng() % 2 ? static_cast<TPDFObject*>(pool.NewNull()) : pool.NewArray());
          break;
        case 9:
          if (rng() % 3 == 0) target->Release();
          break;
        default: {
          if (target->GetOwner() != &pool) break;
          const bool live = isLive(pool, target);
          const bool expected = live && !isSharedKey(target) && !heldByScan(pool, target);
          pool.FreeObject(target);
          ASSERT_EQ(isLive(pool, target), live && !expected) << "seed " << seed << " step " << step;
        }
      }
    }
    // Every object that is live and free by the definition can go; every
    // held one stays.
    for (TPDFObject* obj : all) {
      if (obj->GetOwner() != &pool || !isLive(pool, obj)) continue;
      const bool expected = !isSharedKey(obj) && !heldByScan(pool, obj);
      pool.FreeObject(obj);
      EXPECT_EQ(isLive(pool, obj), !expected) << "seed " << seed;
    }
  }
}

// A stream whose dictionary left the pool still holds that dictionary's entries.
TEST(PavonaObjectPool, StreamWithAFreedDictionaryHoldsItsEntries) {
  TPDFStructure pool;
  TPDFDictionary* dict = pool.NewDictionary();
  TPDFArray* entry = pool.NewArray();
  dict->SetValue("A", entry);
  pool.FreeObject(dict);
  ASSERT_FALSE(isLive(pool, dict));
  TPDFStream* stream = pool.NewStreamWith("x", dict);
  pool.FreeObject(entry);
  EXPECT_TRUE(isLive(pool, entry));  // held through the stream
  stream->Release();
  pool.FreeObject(entry);
  EXPECT_FALSE(isLive(pool, entry));
}

TEST(PavonaObjectPool, FindNameGivesTheFirstLiveNameOfThatText) {
  TPDFStructure pool;
  TPDFName* first = pool.NewName("Font");
  TPDFName* second = pool.NewName("Font");
  EXPECT_EQ(pool.FindName("Font"), first);
  EXPECT_EQ(pool.FindName("Missing"), nullptr);
  pool.FreeObject(first);
  EXPECT_EQ(pool.FindName("Font"), second);
  TPDFName* later = pool.NewName("Later");  // made after the index was built
  EXPECT_EQ(pool.FindName("Later"), later);
  second->SetValue("Renamed");  // renamed after it was indexed
  EXPECT_EQ(pool.FindName("Font"), nullptr);
  EXPECT_EQ(pool.FindName("Renamed"), second);
  TPDFName* older = pool.NewName("Renamed");
  EXPECT_EQ(pool.FindName("Renamed"), second);  // creation order, not renaming order
  first->SetValue("Again");                      // a freed name is never found
  EXPECT_EQ(pool.FindName("Again"), nullptr);
  pool.FreeObject(second);
  EXPECT_EQ(pool.FindName("Renamed"), older);
  // A parsed name and a shared key of the same text: KeyName reuses the first.
  TPDFDictionary* d = PDFAsDictionary(pool.ParseObject("<< /Type /Page >>"));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(pool.KeyName("Type"), d->GetEntry(0).key);
  pool.Reset();
  EXPECT_EQ(pool.FindName("Later"), nullptr);
}

struct RefCase {
  int32_t number, generation;
  int32_t index;
};

TEST(PavonaObjectPool, ReferencesCompareByNumberAndGeneration) {
  TPDFStructure pool;
  TPDFArray* a = PDFAsArray(pool.ParseObject("[ 5 0 R /Name 12 3 R [ 7 0 R ] 12 3 R (7 0 R) ]"));
  ASSERT_NE(a, nullptr);
  const RefCase cases[] = {{5, 0, 0}, {12, 3, 2}, {12, 0, -1}, {7, 0, -1}, {13, 3, -1}};
  for (const RefCase& c : cases)
    EXPECT_EQ(a->IndexOfRef(pool.NewIndRef(c.number, c.generation)), c.index) << c.number << " " << c.generation;
  EXPECT_EQ(a->IndexOfRef(nullptr), -1);
  // Text comparison still covers every kind of item.
  const std::pair<const char*, bool> texts[] = {{"12 3 R", true}, {"/Name", true},   {"[ 7 0 R ]", true},
                                                {"(7 0 R)", true}, {"7 0 R", false}, {"", false}};
  for (const auto& [text, found] : texts) EXPECT_EQ(a->ContainsText(text), found) << text;
  a->RemoveObject(pool.NewIndRef(12, 3), true);
  EXPECT_EQ(a->IndexOfRef(pool.NewIndRef(12, 3)), 3);  // only the first one went
}

// The shared classes, byte by byte, against the sets PDF defines.
TEST(PavonaCharClass, EveryByte) {
  const std::string white("\0\t\n\f\r ", 6);
  const std::string delimiters = "()<>[]{}/%";
  const std::string hex = "0123456789abcdefABCDEF";
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool isWhite = white.find(c) != std::string::npos;
    const bool isDelimiter = delimiters.find(c) != std::string::npos;
    EXPECT_EQ(PDFIsWhite(c), isWhite) << b;
    EXPECT_EQ(PDFIsDelimiter(c), isDelimiter) << b;
    EXPECT_EQ(PDFIsRegular(c), !isWhite && !isDelimiter) << b;
    EXPECT_EQ(PDFIsDigit(c), b >= '0' && b <= '9') << b;
    const size_t h = hex.find(c);
    const int value = h == std::string::npos ? -1 : static_cast<int>(h < 16 ? h : h - 6);
    EXPECT_EQ(PDFHexValue(c), value) << b;
  }
}

}  // namespace
