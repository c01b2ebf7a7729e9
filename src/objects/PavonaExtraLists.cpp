// The engine's string and integer lists and the set of object numbers.
#include <algorithm>

#include "objects/PavonaExtra.h"

namespace {
const std::string kEmptyString;
}

int TPavonaStringList::compare(std::string_view a, std::string_view b) const {
  return caseSensitive_ ? CompareStrA(a, b) : CompareTextA(a, b);
}

// Capacity grows by a quarter when above 64 entries, by 16 above 8, else by 4.
void TPavonaStringList::grow() {
  int32_t delta = capacity_ > 64 ? capacity_ / 4 : (capacity_ > 8 ? 16 : 4);
  SetCapacity(capacity_ + delta);
}

void TPavonaStringList::SetCapacity(int32_t n) {
  // Never below the entries held: shrinking the array must not drop entries.
  n = std::max(n, GetCount());
  if (n < static_cast<int32_t>(items_.capacity())) {
    items_.shrink_to_fit();
  }
  items_.reserve(static_cast<size_t>(n));
  capacity_ = n;
}

int32_t TPavonaStringList::AddObject(std::string_view s, void* object) {
  int32_t index = GetCount();
  if (sorted_) {
    if (Find(s, index) && duplicates_ == TPavonaDuplicates::dupIgnore) return index;
  }
  InsertObject(index, s, object);
  return index;
}

void TPavonaStringList::InsertObject(int32_t index, std::string_view s, void* object) {
  if (index < 0 || index > GetCount()) return;
  if (GetCount() == capacity_) grow();
  items_.insert(items_.begin() + index, TPavonaStringItem{std::string(s), object});
}

void TPavonaStringList::Delete(int32_t index) {
  if (index < 0 || index >= GetCount()) return;
  items_.erase(items_.begin() + index);
}

void TPavonaStringList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
  capacity_ = 0;
}

// Out of range gives an empty string rather than undefined behaviour.
const std::string& TPavonaStringList::GetString(int32_t index) const {
  if (index < 0 || index >= GetCount()) return kEmptyString;
  return items_[static_cast<size_t>(index)].text;
}

void TPavonaStringList::SetString(int32_t index, std::string_view s) {
  if (index < 0 || index >= GetCount()) return;
  items_[static_cast<size_t>(index)].text.assign(s);
}

void* TPavonaStringList::GetObject(int32_t index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return items_[static_cast<size_t>(index)].object;
}

void TPavonaStringList::SetObject(int32_t index, void* object) {
  if (index < 0 || index >= GetCount()) return;
  items_[static_cast<size_t>(index)].object = object;
}

void TPavonaStringList::SetSorted(bool sorted) {
  if (sorted && !sorted_) Sort();
  sorted_ = sorted;
}

void TPavonaStringList::Sort() {
  if (GetCount() <= 1) return;
  std::sort(items_.begin(), items_.end(), [this](const TPavonaStringItem& a, const TPavonaStringItem& b) {
    return compare(a.text, b.text) < 0;
  });
}

bool TPavonaStringList::Find(std::string_view s, int32_t& index) const {
  bool found = false;
  int32_t lo = 0, hi = GetCount() - 1;
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int c = compare(items_[static_cast<size_t>(mid)].text, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != TPavonaDuplicates::dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

int32_t TPavonaStringList::IndexOf(std::string_view s) const {
  if (sorted_) {
    int32_t index;
    return Find(s, index) ? index : -1;
  }
  for (int32_t i = 0; i < GetCount(); ++i)
    if (compare(items_[static_cast<size_t>(i)].text, s) == 0) return i;
  return -1;
}

int32_t TPavonaStringList::IndexOfName(std::string_view name) const {
  for (int32_t i = 0; i < GetCount(); ++i) {
    std::string_view text = items_[static_cast<size_t>(i)].text;
    size_t eq = text.find('=');
    if (eq != std::string_view::npos && compare(text.substr(0, eq), name) == 0) return i;
  }
  return -1;
}

std::string TPavonaStringList::GetValueOf(std::string_view name) const {
  int32_t i = IndexOfName(name);
  if (i < 0) return {};
  const std::string& text = items_[static_cast<size_t>(i)].text;
  size_t skip = name.size() + 1;
  return skip >= text.size() ? std::string() : text.substr(skip);
}

int32_t TPavonaStringList::IndexOfObject(const void* object) const {
  for (int32_t i = 0; i < GetCount(); ++i)
    if (items_[static_cast<size_t>(i)].object == object) return i;
  return -1;
}

void TPavonaStringList::AddStrings(const TPavonaStringList& other) {
  if (&other == this) {
    TPavonaStringList copy;
    copy.AddStrings(other);
    AddStrings(copy);
    return;
  }
  for (const TPavonaStringItem& item : other.items_) AddObject(item.text, item.object);
}

void TPavonaStringList::SaveToStream(TStream& stream) const { stream.WriteString(GetText()); }

std::string TPavonaStringList::GetText() const {
  std::string out;
  for (const TPavonaStringItem& item : items_) {
    out += item.text;
    out += "\r\n";
  }
  return out;
}

void TPavonaStringList::SetText(std::string_view text) {
  Clear();
  if (text.empty()) {
    Add("");
    return;
  }
  size_t i = 0, n = text.size();
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != '\0' && text[i] != '\r' && text[i] != '\n') ++i;
    Add(text.substr(start, i - start));
    if (i < n) {
      if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      ++i;
    }
  }
}

// ---------------------------------------------------------------------------

int32_t TPavonaIntegerList::IndexOf(int32_t value) const {
  auto it = std::find(items_.begin(), items_.end(), value);
  return it == items_.end() ? -1 : static_cast<int32_t>(it - items_.begin());
}

// Compares instead of subtracting, so values far apart cannot overflow.
void TPavonaIntegerList::Sort() { std::sort(items_.begin(), items_.end()); }

int32_t TSortedNumberList::Find(int32_t n) const {
  int32_t count = list_.GetCount();
  if (count == 0) return 0;
  // On a sorted list: the first number greater than n, else the last.
  int32_t lo = 0, hi = count;
  while (lo < hi) {
    int32_t mid = lo + (hi - lo) / 2;
    if (list_.Get(mid) > n)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo < count ? list_.Get(lo) : list_.Get(count - 1);
}

// ---------------------------------------------------------------------------

bool TPVLSortedUniqueIntegerList::Add(uint32_t value) {
  if (value < kDenseLimit) {
    size_t word = value / 64;
    uint64_t bit = uint64_t{1} << (value % 64);
    if (word >= dense_.size()) dense_.resize(std::max(word + 1, dense_.size() * 2), 0);
    if (dense_[word] & bit) return false;
    dense_[word] |= bit;
    return true;
  }
  return sparse_.insert(value).second;
}

bool TPVLSortedUniqueIntegerList::Contains(uint32_t value) const {
  if (value < kDenseLimit) {
    size_t word = value / 64;
    return word < dense_.size() && (dense_[word] & (uint64_t{1} << (value % 64))) != 0;
  }
  return sparse_.count(value) != 0;
}

void TPVLSortedUniqueIntegerList::Clear() {
  dense_.clear();
  dense_.shrink_to_fit();
  sparse_.clear();
}
