// Name trees: single-node trees, multi-level /Kids trees, cycles, odd arrays.
#include <gtest/gtest.h>

#include <map>

#include "PavonaStructureTestSupport.h"
#include "objects/PavonaStructure.h"

namespace {

using pvltest::Dump;

// A pool whose references resolve to objects registered by number, like a
// loaded document.
struct TinyDocument {
  TPDFStructure pool;
  std::map<int32_t, TPDFObject*> objects;
  TinyDocument() {
    pool.OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      auto it = objects.find(number);
      return it == objects.end() ? nullptr : it->second;
    };
  }
  TPDFObject* Add(int32_t number, std::string_view text) {
    TPDFObject* obj = pool.ParseObject(text);
    obj->SetIndirect(number, 0);
    objects[number] = obj;
    return obj;
  }
};

TEST(PavonaStructureNameTree, SingleNodeTree) {
  TPDFStructure pool;
  TPDFDictionary* root = pool.NewDictionary();
  TPDFNameTree tree(&pool, root);
  ASSERT_TRUE(tree.IsSingleNode());
  tree.Add("b", pool.NewIndRef(2, 0));
  tree.Add("a", pool.NewIndRef(1, 0));
  tree.Add("c", pool.NewIndRef(3, 0));
  EXPECT_EQ(Dump(root->GetValue("Names")), "[s\"a\" R1.0 s\"b\" R2.0 s\"c\" R3.0]");
  EXPECT_EQ(tree.GetCount(), 3);
  EXPECT_EQ(tree.GetName(1), "a");
  EXPECT_EQ(tree.GetName(3), "c");
  EXPECT_EQ(tree.GetName(0), "");
  EXPECT_EQ(tree.GetName(4), "");
  EXPECT_EQ(tree.GetValue("b")->GetRefNumber(), 2);
  EXPECT_EQ(tree.GetValue("B"), nullptr);

  // Adding an existing name replaces its value instead of duplicating the pair.
  tree.Add("b", pool.NewIndRef(20, 0));
  EXPECT_EQ(tree.GetCount(), 3);
  EXPECT_EQ(tree.GetValue("b")->GetRefNumber(), 20);

  EXPECT_TRUE(tree.Delete("a"));
  EXPECT_FALSE(tree.Delete("a"));
  EXPECT_FALSE(tree.Contains("a"));
  EXPECT_EQ(Dump(root->GetValue("Names")), "[s\"b\" R20.0 s\"c\" R3.0]");
}

TEST(PavonaStructureNameTree, DirectValuesAndOddArrays) {
  TPDFStructure pool;
  TPDFDictionary* root =
      PDFAsDictionary(pool.ParseObject("<< /Names [ (a) << /D 1 >> (b) 5 0 R 7 (x) (c) 6 0 R (dangling) ] >>"));
  ASSERT_NE(root, nullptr);
  TPDFNameTree tree(&pool, root);
  // The pair with a numeric key is not counted; the dangling key is ignored.
  EXPECT_EQ(tree.GetCount(), 3);
  EXPECT_EQ(tree.GetName(3), "c");
  EXPECT_TRUE(tree.Contains("a"));
  EXPECT_EQ(tree.GetValue("a"), nullptr);  // a direct value is not a reference
  EXPECT_FALSE(tree.Delete("a"));
  EXPECT_FALSE(tree.Contains("dangling"));
  EXPECT_EQ(tree.GetValue("dangling"), nullptr);
  tree.Add("d", pool.NewIndRef(9, 0));
  EXPECT_EQ(tree.GetValue("d")->GetRefNumber(), 9);
  EXPECT_EQ(tree.GetCount(), 4);
}

TEST(PavonaStructureNameTree, KidsTreesAreReadRecursively) {
  TinyDocument doc;
  TPDFDictionary* root = PDFAsDictionary(doc.Add(1, "<< /Kids [ 2 0 R 3 0 R ] >>"));
  doc.Add(2, "<< /Limits [ (a) (f) ] /Kids [ 4 0 R 5 0 R ] >>");
  doc.Add(3, "<< /Limits [ (m) (z) ] /Names [ (m) 12 0 R (z) 13 0 R ] >>");
  doc.Add(4, "<< /Limits [ (a) (b) ] /Names [ (a) 10 0 R (b) 11 0 R ] >>");
  doc.Add(5, "<< /Limits [ (e) (f) ] /Names [ (e) 14 0 R (f) 15 0 R ] >>");
  TPDFNameTree tree(&doc.pool, root);
  EXPECT_FALSE(tree.IsSingleNode());
  EXPECT_EQ(tree.GetCount(), 6);
  std::string order;
  for (int32_t i = 1; i <= tree.GetCount(); ++i) order += tree.GetName(i);
  EXPECT_EQ(order, "abefmz");
  EXPECT_EQ(tree.GetValue("z")->GetRefNumber(), 13);
  EXPECT_EQ(tree.GetValue("e")->GetRefNumber(), 14);
  EXPECT_TRUE(tree.Contains("b"));
  EXPECT_FALSE(tree.Contains("c"));

  // A new name goes into the leaf that covers it (or the nearest one) in
  // sorted place, and the /Limits on its path widen.
  tree.Add("c", doc.pool.NewIndRef(30, 0));
  tree.Add("g", doc.pool.NewIndRef(31, 0));
  tree.Add("0", doc.pool.NewIndRef(32, 0));
  tree.Add("zz", doc.pool.NewIndRef(33, 0));
  order.clear();
  for (int32_t i = 1; i <= tree.GetCount(); ++i) order += tree.GetName(i) + ",";
  EXPECT_EQ(order, "0,a,b,c,e,f,g,m,z,zz,");
  EXPECT_EQ(Dump(doc.objects[4]),
            "<</\"Limits\":[s\"0\" s\"c\"] /\"Names\":[s\"0\" R32.0 s\"a\" R10.0 s\"b\" R11.0 s\"c\" R30.0]>>");
  EXPECT_EQ(Dump(PDFAsDictionary(doc.objects[2])->GetValue("Limits")), "[s\"0\" s\"g\"]");
  EXPECT_EQ(Dump(PDFAsDictionary(doc.objects[3])->GetValue("Limits")), "[s\"m\" s\"zz\"]");
  // Replacing and deleting work on any leaf.
  tree.Add("e", doc.pool.NewIndRef(40, 0));
  EXPECT_EQ(tree.GetValue("e")->GetRefNumber(), 40);
  EXPECT_TRUE(tree.Delete("m"));
  EXPECT_EQ(tree.GetCount(), 9);
}

TEST(PavonaStructureNameTree, CyclesAndMissingKidsEnd) {
  TinyDocument doc;
  TPDFDictionary* root = PDFAsDictionary(doc.Add(1, "<< /Kids [ 2 0 R 1 0 R 99 0 R 7 ] >>"));
  doc.Add(2, "<< /Kids [ 3 0 R 2 0 R 1 0 R ] >>");
  doc.Add(3, "<< /Names [ (x) 5 0 R ] /Kids [ 1 0 R ] >>");
  TPDFNameTree tree(&doc.pool, root);
  EXPECT_EQ(tree.GetCount(), 1);
  EXPECT_EQ(tree.GetValue("x")->GetRefNumber(), 5);

  // A chain deeper than any real tree stops at the depth limit.
  TinyDocument deep;
  for (int32_t i = 1; i <= 2000; ++i) deep.Add(i, "<< /Kids [ " + std::to_string(i + 1) + " 0 R ] >>");
  deep.Add(2001, "<< /Names [ (deep) 1 0 R ] >>");
  TPDFNameTree deepTree(&deep.pool, PDFAsDictionary(deep.objects[1]));
  EXPECT_EQ(deepTree.GetCount(), 0);
}

TEST(PavonaStructureNameTree, RootWithoutNamesOrKids) {
  TPDFStructure pool;
  TPDFDictionary* root = PDFAsDictionary(pool.ParseObject("<< /Other 1 >>"));
  TPDFNameTree tree(&pool, root);
  EXPECT_EQ(tree.GetCount(), 0);
  tree.Add("a", pool.NewIndRef(1, 0));  // nowhere to put it
  EXPECT_EQ(tree.GetCount(), 0);
  EXPECT_EQ(root->GetCount(), 1);
  TPDFNameTree none(&pool, nullptr);
  EXPECT_EQ(none.GetCount(), 0);
  EXPECT_EQ(none.GetValue("a"), nullptr);
}

}  // namespace
