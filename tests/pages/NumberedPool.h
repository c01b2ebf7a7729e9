// Object pools for tests that build small documents object by object:
// references resolve to the objects added by number, and new objects are
// numbered after the highest one.
#pragma once

#include <map>
#include <string>

#include "objects/PavonaStructure.h"

namespace pagetest {

class NumberedPool {
public:
  NumberedPool() {
    pool.OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      auto it = objects.find(number);
      return it == objects.end() ? nullptr : it->second;
    };
    pool.OnGetObjectNumber = [this](TPDFStructure*, TPDFObject* obj, int32_t& number, int32_t& generation) {
      number = objects.empty() ? 1 : objects.rbegin()->first + 1;
      generation = 0;
      obj->SetIndirect(number, 0);
      objects[number] = obj;
    };
  }
  NumberedPool(const NumberedPool&) = delete;
  NumberedPool& operator=(const NumberedPool&) = delete;

  // Object number n from PDF syntax.
  TPDFObject* Add(int32_t n, const std::string& text) {
    TPDFObject* obj = pool.ParseObject(text);
    obj->SetIndirect(n, 0);
    objects[n] = obj;
    return obj;
  }
  TPDFStream* AddStream(int32_t n, const std::string& dict, const std::string& data) {
    TPDFStream* s = pool.NewStreamWith(data, pool.ParseObject(dict)->AsDictionary());
    s->SetIndirect(n, 0);
    objects[n] = s;
    return s;
  }
  TPDFDictionary* Dict(int32_t n) { return PDFAsDictionary(objects.at(n)); }
  TPDFStream* Stream(int32_t n) { return PDFAsStream(objects.at(n)); }

  TPDFStructure pool;
  std::map<int32_t, TPDFObject*> objects;
};

}  // namespace pagetest
