// A randomized run of mixed operations, with closes and reopens in between,
// compared answer by answer against a small model of the database's rules.

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/field_cipher.h"
#include "test_support.h"

namespace mero {
namespace {

using Record = std::vector<std::string>;

// The rules, stated plainly: records in append order, positions at the end
// of the data file, in-place updates when the image fits the stored length
// and lies within one 4 KiB page.
class Model {
 public:
  explicit Model(std::vector<bool> indexed) : indexed_(std::move(indexed)) {}

  static int64_t imageSize(const Record& r) {
    int64_t n = 4;
    for (const auto& v : r) n += 4 + static_cast<int64_t>(v.size());
    return n;
  }

  int write(const Record& r) {
    if (keyIndex_ && keys_.count(r[0])) return 2;
    const auto position = static_cast<int32_t>(end_);
    live_.push_back({position, r});
    images_[position] = r;
    end_ += imageSize(r);
    if (keyIndex_) keys_.emplace(r[0], position);
    return 0;
  }

  bool update(int32_t position, const Record& r) {
    auto it = findLive(position);
    if (it == live_.end()) return false;
    int32_t target = position;
    const int64_t size = imageSize(r);
    if (size > imageSize(images_[position]) || position / 4096 != (position + size - 1) / 4096) {
      target = static_cast<int32_t>(end_);
      end_ += imageSize(r);
    }
    if (keyIndex_) {
      dropKey(it->second[0], position);
      keys_.emplace(r[0], target);
    }
    images_[target] = r;
    *it = {target, r};
    return true;
  }

  bool erase(int32_t position) {
    auto it = findLive(position);
    if (it == live_.end()) return false;
    if (keyIndex_) dropKey(it->second[0], position);
    live_.erase(it);
    return true;
  }

  std::vector<int32_t> find(const std::vector<uint8_t>& partial, const Record& terms) const {
    std::vector<int32_t> out;
    for (size_t i = 0; i < terms.size(); ++i)
      if (!terms[i].empty() && i >= indexed_.size()) return out;
    for (const auto& [position, r] : live_) {
      bool all = true;
      for (size_t i = 0; i < terms.size() && all; ++i) {
        if (terms[i].empty()) continue;
        const std::string v = upper(r[i]), t = upper(terms[i]);
        all = partial[i] ? v.find(t) != std::string::npos : v == t;
      }
      if (all) out.push_back(position);
    }
    return out;
  }

  void reopen(bool keyIndex) {
    keyIndex_ = keyIndex;
    keys_.clear();
    if (keyIndex_)
      for (const auto& [position, r] : live_) keys_.emplace(r[0], position);
  }

  int32_t getPos(const std::string& key) const {
    const auto it = keys_.find(key);
    return it == keys_.end() ? -1 : it->second;
  }
  const std::map<int32_t, Record>& images() const { return images_; }
  const std::vector<std::pair<int32_t, Record>>& live() const { return live_; }
  int64_t end() const { return end_; }

 private:
  static std::string upper(std::string s) {
    upperCase(s.data(), s.size());
    return s;
  }
  std::vector<std::pair<int32_t, Record>>::iterator findLive(int32_t position) {
    for (auto it = live_.begin(); it != live_.end(); ++it)
      if (it->first == position) return it;
    return live_.end();
  }
  void dropKey(const std::string& key, int32_t position) {
    const auto it = keys_.find(key);
    if (it != keys_.end() && it->second == position) keys_.erase(it);
  }

  std::vector<bool> indexed_;
  bool keyIndex_ = true;
  int64_t end_ = 0;
  std::vector<std::pair<int32_t, Record>> live_;
  std::map<int32_t, Record> images_;
  std::map<std::string, int32_t> keys_;
};

FieldValues toValues(const Record& r) {
  FieldValues out;
  for (const auto& v : r) out.add(v);
  return out;
}

TEST(ModelTest, MixedOperationsAgreeWithTheModel) {
  const std::vector<std::string> words = {"", "a", "ab", "AB", "abc", "Zürich", "zÜRICH", "b", "xxB",
                                          "longer text value", "LONGER", "é", "É", "ba"};
  for (const unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    const auto pick = [&](const std::vector<std::string>& from) { return from[rng() % from.size()]; };
    test::TempDir dir;
    const std::string base = dir.path("db");
    const std::vector<bool> indexed = {true, false, true};
    auto db = test::createDatabase(base, {true, false, true}, "k\xC3\xA9y");
    Model model(indexed);

    for (int step = 0; step < 3000; ++step) {
      SCOPED_TRACE(step);
      const unsigned op = rng() % 100;
      const Record r = {pick(words) + std::to_string(rng() % 30), pick(words), pick(words)};
      const auto anyPosition = [&]() -> int32_t {
        if (!model.images().empty() && rng() % 4 != 0) {
          auto it = model.images().begin();
          std::advance(it, static_cast<long>(rng() % model.images().size()));
          return it->first;
        }
        return static_cast<int32_t>(rng() % (model.end() + 10));
      };
      if (op < 35) {
        ASSERT_EQ(static_cast<int>(db->write(toValues(r))), model.write(r));
      } else if (op < 55) {
        const int32_t p = anyPosition();
        ASSERT_EQ(db->updateRecord(p, toValues(r)), model.update(p, r));
      } else if (op < 67) {
        const int32_t p = anyPosition();
        ASSERT_EQ(db->deleteRecord(p), model.erase(p));
      } else if (op < 85) {
        std::vector<uint8_t> partial;
        Record terms;
        const size_t n = rng() % 4;
        for (size_t i = 0; i < n; ++i) {
          partial.push_back(rng() % 2);
          terms.push_back(rng() % 3 == 0 ? "" : pick(words));
        }
        if (rng() % 10 == 0) {
          partial.push_back(0);
          terms.push_back("x");  // a term beyond the last field
        }
        ASSERT_EQ(db->find(partial, toValues(terms)), model.find(partial, terms));
      } else if (op < 93) {
        const std::string key = r[0];
        ASSERT_EQ(db->getPos(key), model.getPos(key));
      } else if (op < 98) {
        const int32_t p = anyPosition();
        FieldValues out;
        const auto image = model.images().find(p);
        ASSERT_EQ(db->getRecord(p, out), image != model.images().end() || db->getRecord(p, out));
        if (image != model.images().end()) {
          ASSERT_EQ(test::toStrings(out), image->second);
        }
      } else {
        const bool keyIndex = rng() % 3 != 0;
        db.reset();
        db = Database::open(base, "k\xC3\xA9y", keyIndex);
        ASSERT_TRUE(db);
        model.reopen(keyIndex);
      }
      ASSERT_EQ(db->numRecs(), static_cast<int32_t>(model.live().size()));
    }
    std::vector<int32_t> positions;
    for (const auto& [p, rec] : model.live()) positions.push_back(p);
    EXPECT_EQ(db->records().positions(), positions);
    std::vector<int32_t> stored = test::indexEntries(base);
    EXPECT_EQ(stored[0], static_cast<int32_t>(positions.size()));
    EXPECT_EQ(std::vector<int32_t>(stored.begin() + 1, stored.begin() + 1 + static_cast<long>(positions.size())),
              positions);
  }
}

}  // namespace
}  // namespace mero
