// String lists, integer lists and the object-number set.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>

#include "objects/PavonaExtra.h"

namespace {

std::vector<std::string> stringsOf(const TPavonaStringList& l) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < l.GetCount(); ++i) out.push_back(l.GetString(i));
  return out;
}

}  // namespace

TEST(StringList, SortedCaseInsensitiveFindAndDuplicates) {
  TPavonaStringList l;
  int x = 0, y = 0;
  l.SetSorted(true);
  l.Add("Width");
  int32_t font = l.AddObject("Font", &x);
  l.Add("ExtGState");
  EXPECT_EQ(stringsOf(l), (std::vector<std::string>{"ExtGState", "Font", "Width"}));
  int32_t index = -1;
  EXPECT_TRUE(l.Find("FONT", index));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(font, 0);  // the index when it was added
  EXPECT_EQ(l.AddObject("font", &y), 1);  // duplicates ignored: nothing added
  EXPECT_EQ(l.GetCount(), 3);
  EXPECT_EQ(l.GetObject(1), &x);
  EXPECT_FALSE(l.Find("Foo", index));
  EXPECT_EQ(index, 2);  // insertion point
  EXPECT_EQ(l.IndexOf("width"), 2);
  EXPECT_EQ(l.IndexOf("Zebra"), -1);
  // Accepting duplicates: Find gives the first of equal entries.
  l.SetDuplicates(TPavonaDuplicates::dupAccept);
  l.Add("font");
  l.Add("FONT");
  EXPECT_EQ(l.GetCount(), 5);
  EXPECT_TRUE(l.Find("Font", index));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(l.GetString(4), "Width");
}

TEST(StringList, CaseSensitiveVariant) {
  TPavonaCaseSensitiveStringList cs;
  TPavonaStringList ci;
  for (TPavonaStringList* l : {static_cast<TPavonaStringList*>(&cs), &ci}) {
    l->Add("Font");
    l->Add("font");
  }
  EXPECT_TRUE(cs.GetCaseSensitive());
  EXPECT_EQ(cs.IndexOf("font"), 1);
  EXPECT_EQ(cs.IndexOf("FONT"), -1);
  EXPECT_EQ(ci.IndexOf("font"), 0);  // unsorted lists compare without case too
  EXPECT_EQ(ci.IndexOf("FONT"), 0);
  cs.SetSorted(true);
  EXPECT_EQ(stringsOf(cs), (std::vector<std::string>{"Font", "font"}));
  cs.Add("Font");
  EXPECT_EQ(cs.GetCount(), 2);
}

TEST(StringList, IndexChecks) {
  TPavonaStringList l;
  l.Add("a");
  EXPECT_EQ(l.GetString(-1), "");
  EXPECT_EQ(l.GetString(1), "");
  EXPECT_EQ(l.GetString(INT_MAX), "");
  EXPECT_EQ(l.GetObject(5), nullptr);
  l.SetString(3, "x");
  l.SetObject(-1, &l);
  l.Delete(1);
  l.Delete(-1);
  l.Insert(2, "no");
  l.Insert(-1, "no");
  EXPECT_EQ(stringsOf(l), std::vector<std::string>{"a"});
  l.Insert(1, "end");
  l.Insert(0, "start");
  EXPECT_EQ(stringsOf(l), (std::vector<std::string>{"start", "a", "end"}));
  l.SetString(1, "b");
  l.Delete(0);
  EXPECT_EQ(stringsOf(l), (std::vector<std::string>{"b", "end"}));
}

TEST(StringList, CapacityGrowth) {
  TPavonaStringList l;
  std::vector<int32_t> seen;
  for (int i = 0; i < 120; ++i) {
    l.Add(std::to_string(i));
    if (seen.empty() || seen.back() != l.GetCapacity()) seen.push_back(l.GetCapacity());
  }
  // +4 up to 8, then +16 up to 64, then a quarter.
  EXPECT_EQ(seen, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147}));
  l.SetCapacity(10);  // never below the entries held
  EXPECT_EQ(l.GetCapacity(), 120);
  EXPECT_EQ(l.GetString(119), "119");
  l.Clear();
  EXPECT_EQ(l.GetCapacity(), 0);
  EXPECT_EQ(l.GetCount(), 0);
}

TEST(StringList, TextAndNames) {
  struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\r\nb", {"a", "b"}},
      {"", {""}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\rb\nc", {"a", "b", "c"}},
      {std::string("a\0b", 3), {"a", "b"}},
      {"\n", {""}},
      {"\r\r\n", {"", ""}},
      {"last", {"last"}},
  };
  for (auto& c : cases) {
    TPavonaStringList l;
    l.Add("old");
    l.SetText(c.text);
    EXPECT_EQ(stringsOf(l), c.lines);
  }
  TPavonaStringList l;
  l.Add("a");
  l.Add("b");
  EXPECT_EQ(l.GetText(), "a\r\nb\r\n");
  TMemoryStream s;
  l.SaveToStream(s);
  EXPECT_EQ(s.Bytes(), "a\r\nb\r\n");

  TPavonaStringList names;
  names.Add("Width");
  names.Add("width=12");
  names.Add("Height==5");
  names.Add("Empty=");
  EXPECT_EQ(names.IndexOfName("Width"), 1);
  EXPECT_EQ(names.GetValueOf("Width"), "12");
  EXPECT_EQ(names.GetValueOf("height"), "=5");
  EXPECT_EQ(names.GetValueOf("Empty"), "");
  EXPECT_EQ(names.IndexOfName("Missing"), -1);
  EXPECT_EQ(names.GetValueOf("Missing"), "");
}

TEST(StringList, ObjectsAndAddStrings) {
  int a = 0, b = 0;
  TPavonaStringList l;
  l.AddObject("x", &a);
  l.AddObject("y", &b);
  EXPECT_EQ(l.IndexOfObject(&b), 1);
  EXPECT_EQ(l.IndexOfObject(nullptr), -1);
  TPavonaStringList sorted;
  sorted.SetSorted(true);
  sorted.Add("z");
  sorted.AddStrings(l);
  EXPECT_EQ(stringsOf(sorted), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(sorted.GetObject(1), &b);
  l.AddStrings(l);
  EXPECT_EQ(stringsOf(l), (std::vector<std::string>{"x", "y", "x", "y"}));
  l.SetSorted(true);
  EXPECT_EQ(stringsOf(l), (std::vector<std::string>{"x", "x", "y", "y"}));
  l.SetSorted(false);
  l.Add("a");
  EXPECT_EQ(l.GetString(4), "a");  // unsorted again: appends
}

TEST(StringList, SortMatchesAReferenceOrder) {
  std::mt19937 rng(7);
  TPavonaStringList l;
  std::multiset<std::string> reference;
  for (int i = 0; i < 2000; ++i) {
    std::string s;
    int n = static_cast<int>(rng() % 6);
    for (int k = 0; k < n; ++k) s.push_back("aAbB\xE9\xC9z"[rng() % 7]);
    l.Add(s);
  }
  l.Sort();
  for (int32_t i = 1; i < l.GetCount(); ++i) EXPECT_LE(CompareTextA(l.GetString(i - 1), l.GetString(i)), 0);
  for (int32_t i = 0; i < l.GetCount(); i += 97) {
    int32_t index;
    ASSERT_FALSE(l.GetSorted());
    l.SetSorted(true);
    EXPECT_TRUE(l.Find(l.GetString(i), index));
    EXPECT_EQ(CompareTextA(l.GetString(index), l.GetString(i)), 0);
    l.SetSorted(false);
  }
}

TEST(IntegerLists, SortWithoutOverflowAndFind) {
  TPavonaIntegerList l;
  for (int32_t v : {5, INT_MIN, INT_MAX, -1, 0, INT_MAX - 1, INT_MIN + 1}) l.Add(v);
  EXPECT_EQ(l.IndexOf(-1), 3);
  EXPECT_EQ(l.IndexOf(42), -1);
  l.Sort();
  std::vector<int32_t> got;
  for (int32_t i = 0; i < l.GetCount(); ++i) got.push_back(l.Get(i));
  EXPECT_EQ(got, (std::vector<int32_t>{INT_MIN, INT_MIN + 1, -1, 0, 5, INT_MAX - 1, INT_MAX}));
  EXPECT_EQ(l.Get(-1), 0);
  EXPECT_EQ(l.Get(99), 0);

  TSortedNumberList s;
  EXPECT_EQ(s.Find(3), 0);
  s.Add(30);
  s.Add(10);
  s.Add(20);
  s.Sort();
  struct {
    int32_t n, found;
  } cases[] = {{15, 20}, {30, 30}, {5, 10}, {10, 20}, {20, 30}, {99, 30}, {INT_MIN, 10}};
  for (auto& c : cases) EXPECT_EQ(s.Find(c.n), c.found) << c.n;
}

TEST(UniqueIntegerSet, TestAndSet) {
  TPVLSortedUniqueIntegerList set;
  EXPECT_TRUE(set.Add(70000));
  EXPECT_FALSE(set.Add(70000));
  EXPECT_TRUE(set.Contains(70000));
  EXPECT_FALSE(set.Contains(5));
  for (uint32_t v : {0u, 63u, 64u, 1048575u, 1048576u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_FALSE(set.Contains(v)) << v;
    EXPECT_TRUE(set.Add(v)) << v;
    EXPECT_FALSE(set.Add(v)) << v;
    EXPECT_TRUE(set.Contains(v)) << v;
  }
  set.Clear();
  EXPECT_FALSE(set.Contains(70000));
  EXPECT_TRUE(set.Add(70000));
}

// Hostile object numbers spread over the whole range: each costs a set entry,
// not a 64 KB page (a quarter million pages would be 16 GB). Checked against
// a reference set.
TEST(UniqueIntegerSet, SpreadValuesAgainstReference) {
  TPVLSortedUniqueIntegerList set;
  std::set<uint32_t> reference;
  std::mt19937 rng(11);
  for (int i = 0; i < 60000; ++i) {
    uint32_t v = i % 3 == 0 ? static_cast<uint32_t>(rng() % 5000) : static_cast<uint32_t>(rng());
    EXPECT_EQ(set.Add(v), reference.insert(v).second);
  }
  for (int i = 0; i < 2000; ++i) {
    uint32_t v = static_cast<uint32_t>(rng());
    EXPECT_EQ(set.Contains(v), reference.count(v) != 0);
  }
}
