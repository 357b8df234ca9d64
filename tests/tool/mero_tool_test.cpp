// The mero executable, run as a user runs it, against databases that the
// engine writes and reads back.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "engine/database.h"
#include "foundation/int32_codec.h"
#include "platform/file.h"
#include "test_support.h"

namespace mero::test {
namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

class MeroTool : public ::testing::Test {
 protected:
  // Runs mero in the scratch directory; env is prepended ("MERO_KEY=k").
  ToolRun mero(const std::string& args, const std::string& env = "MERO_KEY=key") {
    const std::string command = "cd '" + dir_.path("") + "' && env " + env + " '" MERO_TOOL_PATH "' " + args +
                                " >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(at("out.txt")), readFile(at("err.txt"))};
  }
  std::string at(const std::string& name) { return dir_.path(name); }

  // Values that exercise every conversion: separators, quotes, line ends,
  // an empty value, U+0000 (C0 80), U+00E9, and U+1F600 as a surrogate pair.
  static std::vector<std::vector<std::string>> sampleRows() {
    return {{"Ada", "London, UK", "says \"hi\""},
            {"Alan", "Man\r\nchester", ""},
            {"nul\xC0\x80" "byte", "caf\xC3\xA9", "\xED\xA0\xBD\xED\xB8\x80 smile"},
            {"Grace", "", "x"}};
  }
  // The sample rows, written through the engine with a delete and a moved
  // update, so the data file holds dead images and positions out of order.
  void writeSample(const std::string& base, const std::string& key = "key") {
    auto db = createDatabase(at(base), {true, false, true}, key);
    ASSERT_NE(db, nullptr);
    LockGuard guard(db->lock());
    for (const auto& row : sampleRows()) ASSERT_EQ(db->write(values({row[0], row[1], row[2]})), WriteStatus::appended);
    ASSERT_EQ(db->write(values({"gone", "a", "b"})), WriteStatus::appended);
    ASSERT_TRUE(db->deleteRecord(db->getPos("gone")));
    ASSERT_TRUE(db->updateRecord(db->getPos("Ada"), values({"Ada", "London, UK", "says \"hi\" again"})));
    ASSERT_TRUE(db->updateRecord(db->getPos("Ada"), values({"Ada", "London, UK", "says \"hi\""})));
  }
  // Every live record, in record order, read by the engine; empty if it cannot open.
  std::vector<std::vector<std::string>> records(const std::string& base, const std::string& key = "key",
                                                std::vector<int32_t>* positions = nullptr) {
    std::vector<std::vector<std::string>> out;
    auto db = Database::open(at(base), key, false);
    if (db == nullptr) return out;
    LockGuard guard(db->lock());
    FieldValues v;
    for (const int32_t p : db->records().positions()) {
      EXPECT_TRUE(db->getRecord(p, v));
      out.push_back(toRecord(v));
    }
    if (positions != nullptr) *positions = db->records().positions();
    return out;
  }
  void corrupt(const std::string& file, size_t offset, const std::string& bytes) {
    std::string content = readFile(at(file));
    content.replace(offset, bytes.size(), bytes);
    writeFile(at(file), content);
  }

  TempDir dir_;
};

TEST_F(MeroTool, ExportThenImportGivesBackTheSameRecords) {
  writeSample("db");
  for (const std::string format : {"csv", "jsonl"}) {
    SCOPED_TRACE(format);
    ASSERT_EQ(mero("export db --format " + format + " --output out." + format).status, 0);
    const ToolRun imported = mero("import db-" + format + " --format " + format + " --input out." + format +
                              " --indexed f0,f2 --key-index", "MERO_KEY=other");
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.err.find("rows read 4, written 4, refused 0"), std::string::npos) << imported.err;
    EXPECT_EQ(records("db-" + format, "other"), sampleRows());
  }
  // The SQLite file holds the same rows as the JSON Lines export, in Python's own reading.
  ASSERT_EQ(mero("export db --format sqlite --output out.sqlite").status, 0);
  const std::string python = "python3 -c \"import sqlite3, json; "
                             "rows = [list(json.loads(l).values()) for l in open('out.jsonl', encoding='utf-8')]; "
                             "got = [list(r[1:]) for r in sqlite3.connect('out.sqlite').execute('select * from records')]; "
                             "assert rows == got, (rows, got)\"";
  EXPECT_EQ(std::system(("cd '" + dir_.path("") + "' && " + python).c_str()), 0);
  // U+0000 and U+1F600 leave as standard UTF-8.
  const std::string jsonl = readFile(at("out.jsonl"));
  EXPECT_NE(jsonl.find("nul\\u0000byte"), std::string::npos);
  EXPECT_NE(jsonl.find("\xF0\x9F\x98\x80 smile"), std::string::npos);
}

TEST_F(MeroTool, CheckReportsEachPlantedFault) {
  struct Case {
    const char* name;
    std::function<void()> plant;
    const char* report;
  };
  // Record positions of a fresh three-record database: 0, 20, 40 (images of 20 bytes).
  const std::vector<Case> cases = {
      {"clean", [] {}, "no problems found"},
      {"count past the file", [&] { corrupt("db.idx", 0, le32(9)); }, "announces more entries"},
      {"position past the end", [&] { corrupt("db.idx", 8, le32(5000)); }, "record 1: outside the data file"},
      {"image length wrong", [&] { corrupt("db.dat", 20, le32(24)); }, "differs from its fields"},
      {"field past the image", [&] { corrupt("db.dat", 24, le32(99)); }, "runs past the end of the image"},
      {"position twice", [&] { corrupt("db.idx", 8, le32(0)); }, "listed twice"},
      // Record 0 grown over record 1, its field 0 swallowing record 1's head.
      {"overlap", [&] { corrupt("db.dat", 0, le32(40) + le32(24)); }, "record 1 overlaps record 0"},
      {"schema truncated", [&] { writeFile(at("db.str"), le32(3)); }, "schema file"},
      // Stored byte 'y' (the key's last byte) deciphers to zero.
      {"zero byte (--full)", [&] { corrupt("db.dat", 8, "y"); }, "field 0 holds a zero byte"},
      {"bad UTF-8 (--full)", [&] { corrupt("db.dat", 8, "\x78"); }, "field 0 is not valid modified UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* ext : {".str", ".dat", ".idx"}) std::filesystem::remove(at(std::string("db") + ext));
    {
      auto db = createDatabase(at("db"), {true, false, false});
      LockGuard guard(db->lock());
      for (const char* v : {"aaaa", "bbbb", "cccc"}) db->write(values({v, "", ""}));
    }
    c.plant();
    const ToolRun run = mero("check db --full");
    EXPECT_NE(run.out.find(c.report), std::string::npos) << run.out << run.err;
    EXPECT_EQ(run.status, std::string(c.name) == "clean" ? 0 : 1);
  }
}

TEST_F(MeroTool, RefusesBadInputAndLeavesNothingBehind) {
  writeSample("db");
  writeFile(at("exists.csv"), "");
  writeFile(at("wrong-count.csv"), "a,b\r\n1,2\r\n1,2,3\r\n");
  writeFile(at("open-quote.csv"), "a,b\r\n1,\"2\r\n");
  writeFile(at("bad-utf8.csv"), "a,b\r\n1,\xC3\x28\r\n");
  writeFile(at("bad.jsonl"), "{\"a\":\"1\"}\n{\"b\":\"2\"}\n");
  struct Case {
    std::string args;
    std::string env;
    int status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"export db --format csv", "MERO_KEY=wrong", 1, "is the key right?"},
      {"export db --format csv", "-u MERO_KEY", 2, "MERO_KEY"},
      {"export db --format csv --output exists.csv", "MERO_KEY=key", 2, "--force"},
      {"export db --format xml", "MERO_KEY=key", 2, "--format"},
      {"info nothing", "MERO_KEY=key", 3, "no database"},
      {"info db --bogus", "MERO_KEY=key", 2, "unknown option"},
      {"import new --format csv --input wrong-count.csv", "MERO_KEY=key", 1, "line 3: 3 fields"},
      {"import new --format csv --input open-quote.csv", "MERO_KEY=key", 1, "not closed"},
      {"import new --format csv --input bad-utf8.csv", "MERO_KEY=key", 1, "not valid UTF-8"},
      {"import new --format jsonl --input bad.jsonl", "MERO_KEY=key", 1, "\"b\" is not a field"},
      {"import new --format csv --input missing.csv", "MERO_KEY=key", 3, "cannot read"},
      {"import db --format csv --input exists.csv", "MERO_KEY=key", 2, "exists"},
      {"rekey db", "MERO_KEY=key", 2, "--new-key-file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun run = mero(c.args, c.env);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path("")))
    EXPECT_EQ(entry.path().filename().string().rfind("new", 0), std::string::npos) << entry.path();
}

TEST_F(MeroTool, RewritesWaitForEveryEngineToClose) {
  writeSample("db");
  writeFile(at("new.key"), "fresh\n");
  {
    auto open = Database::open(at("db"), "key", false);
    ASSERT_NE(open, nullptr);
    for (const std::string args : {"compact db", "rekey db --new-key-file new.key"}) {
      const ToolRun run = mero(args);
      EXPECT_EQ(run.status, 4) << run.err;
      EXPECT_NE(run.err.find("open in another process"), std::string::npos);
    }
    EXPECT_EQ(mero("info db").status, 4);  // an engine holds the files exclusively
  }
  // And an engine cannot open while a rewrite holds the lock.
  File rewriter;
  ASSERT_TRUE(rewriter.openReadWrite(at("db.str")) && rewriter.lockExclusive() == File::LockResult::taken);
  EXPECT_EQ(Database::open(at("db"), "key", false), nullptr);
}

// Stops compact and rekey at every step in turn: the engine must then open
// exactly the old database or exactly the new one, and mero check find it clean.
TEST_F(MeroTool, CompactAndRekeySurviveAKillAtEveryStep) {
  writeFile(at("new.key"), "fresh\n");
  writeSample("pristine");
  std::vector<int32_t> oldPositions;
  const auto expected = records("pristine", "key", &oldPositions);
  const std::string before = readFile(at("pristine.dat"));
  std::vector<int32_t> packed;  // the live images back to back, in record order
  for (int32_t at = 0; const int32_t p : oldPositions) {
    packed.push_back(at);
    at += decodeInt32(before.data() + p);
  }
  for (const std::string command : {"compact", "rekey"}) {
    bool finished = false;
    int step = 1;
    for (; step < 20 && !finished; ++step) {
      SCOPED_TRACE(command + " killed at step " + std::to_string(step));
      for (const char* ext : {".str", ".dat", ".idx"})
        std::filesystem::copy_file(at(std::string("pristine") + ext), at(std::string("db") + ext),
                                   std::filesystem::copy_options::overwrite_existing);
      const ToolRun run = mero(command + " db --quiet" + (command == "rekey" ? " --new-key-file new.key" : ""), "MERO_KEY=key MERO_TOOL_CRASH_AT=" +
                           std::to_string(step));
      ASSERT_TRUE(run.status == 86 || run.status == 0) << run.err;
      finished = run.status == 0;
      std::vector<int32_t> positions;
      const auto underOld = records("db", "key", &positions);
      const bool isNew = command == "compact" ? positions != oldPositions : underOld != expected;
      if (command == "compact") {
        EXPECT_EQ(underOld, expected);
        if (isNew) {
          EXPECT_EQ(positions, packed);
        }
      } else {
        EXPECT_EQ(isNew ? records("db", "fresh") : underOld, expected);
        EXPECT_EQ(readFile(at("db.dat")).size(), before.size());
      }
      if (finished) {
        EXPECT_TRUE(isNew);
      }
      EXPECT_EQ(mero("check db --quiet").status, 0);
      for (const char* left : {"db.dat.new", "db.idx.new", "db.rewrite"}) EXPECT_FALSE(File::exists(at(left))) << left;
    }
    EXPECT_TRUE(finished);
    EXPECT_GE(step, 7) << "every step of the rewrite was reached";
  }
  // compact --into leaves the original as it was and drops its dead bytes.
  ASSERT_EQ(mero("compact pristine --into small").status, 0);
  EXPECT_EQ(readFile(at("pristine.dat")), before);
  EXPECT_EQ(records("small"), expected);
  EXPECT_NE(mero("info small").out.find("dead 0 bytes"), std::string::npos);
}

}  // namespace
}  // namespace mero::test
